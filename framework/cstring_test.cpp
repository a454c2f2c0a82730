// The string type: clamped pieces, searches, changes in place, and string-table loading.
#include <gtest/gtest.h>

#include "framework/cstring.h"

TEST(CString, PiecesAreClampedToTheString) {
    const CString s("ABCDEF");
    struct Case {
        CString got;
        const char* want;
    } cases[] = {
        {s.Mid(2), "CDEF"},      {s.Mid(2, 2), "CD"},  {s.Mid(4, 10), "EF"}, {s.Mid(6), ""},
        {s.Mid(99, 1), ""},      {s.Mid(-3, 2), "AB"}, {s.Mid(1, -1), ""},   {s.Left(3), "ABC"},
        {s.Left(99), "ABCDEF"},  {s.Left(-1), ""},     {s.Right(2), "EF"},   {s.Right(99), "ABCDEF"},
        {s.Right(0), ""},        {CString("0x1A;rest").SpanIncluding("0123456789xA"), "0x1A"},
        {CString("key=value").SpanExcluding("="), "key"},
    };
    for (const auto& c : cases) EXPECT_STREQ(c.got, c.want);
}

TEST(CString, SearchesReturnMinusOneWhenNothingIsFound) {
    const CString s("AT**MSN=1,2");
    EXPECT_EQ(s.Find('*'), 2);
    EXPECT_EQ(s.Find('*', 3), 3);
    EXPECT_EQ(s.Find('*', 4), -1);
    EXPECT_EQ(s.Find('Z'), -1);
    EXPECT_EQ(s.Find('A', 99), -1);
    EXPECT_EQ(s.Find("MSN"), 4);
    EXPECT_EQ(s.Find("MSN", 5), -1);
    EXPECT_EQ(s.Find(""), 0);
    EXPECT_EQ(s.ReverseFind(','), 9);
    EXPECT_EQ(s.ReverseFind('#'), -1);
    EXPECT_EQ(s.FindOneOf("=,"), 7);
    EXPECT_EQ(s.FindOneOf("#"), -1);
    EXPECT_EQ(s.GetAt(99), '\0');
}

TEST(CString, ChangesInPlace) {
    CString s("  Hello, World \r\n");
    s.Trim();
    EXPECT_STREQ(s, "Hello, World");
    EXPECT_STREQ(CString(s).MakeUpper(), "HELLO, WORLD");
    EXPECT_STREQ(CString(s).MakeLower(), "hello, world");
    EXPECT_EQ(s.Replace("o", "00"), 2);
    EXPECT_STREQ(s, "Hell00, W00rld");
    EXPECT_EQ(s.Replace("", "x"), 0);
    EXPECT_EQ(s.Remove('0'), 4);
    EXPECT_EQ(s.Insert(99, '!'), 11);
    EXPECT_EQ(s.Delete(4, 2), 9);
    EXPECT_STREQ(s, "HellWrld!");
    CString t("000123");
    EXPECT_STREQ(t.TrimLeft('0'), "123");
    EXPECT_EQ(CString("abc").CompareNoCase("ABC"), 0);
    EXPECT_LT(CString("abc").Compare("abd"), 0);
    EXPECT_TRUE(CString("x") == "x");
}

TEST(CString, FormatAndBuffersTakeAnyLength) {
    CString s;
    std::string big(5000, 'z');
    s.Format("%s-%04X-%d", big.c_str(), 0x1A, -7);
    EXPECT_EQ(s.GetLength(), 5000 + 8);
    EXPECT_STREQ(s.Right(10), "zz-001A--7");
    char* buf = s.GetBuffer(10);
    buf[0] = 'A';
    buf[1] = '\0';
    s.ReleaseBuffer();
    EXPECT_STREQ(s, "A");
    buf = s.GetBufferSetLength(3);
    buf[0] = 'x'; buf[1] = 'y'; buf[2] = 'z';
    s.ReleaseBuffer(2);
    EXPECT_STREQ(s, "xy");
}

TEST(CStringArray, PositionsOutsideTheListAreHarmless) {
    CStringArray a;
    EXPECT_EQ(a.Add("one"), 0);
    EXPECT_EQ(a.Add("three"), 1);
    a.InsertAt(1, "two");
    a.InsertAt(99, "four");
    ASSERT_EQ(a.GetSize(), 4);
    EXPECT_STREQ(a[1], "two");
    EXPECT_STREQ(a.GetAt(3), "four");
    EXPECT_STREQ(a.GetAt(4), "");
    EXPECT_STREQ(a.GetAt(-1), "");
    a.SetAt(9, "nowhere");
    a.RemoveAt(9);
    a.RemoveAt(1, 2);
    ASSERT_EQ(a.GetSize(), 2);
    EXPECT_STREQ(a[1], "four");
    EXPECT_EQ(a.GetUpperBound(), 1);
}

TEST(CString, LoadsStringTableTexts) {
    CString s("unchanged");
    EXPECT_FALSE(s.LoadString(1));
    EXPECT_STREQ(s, "unchanged");
    ASSERT_TRUE(s.LoadString(25300));
    EXPECT_STREQ(s, "Error code %d");
    ASSERT_TRUE(s.LoadString(25301));
    EXPECT_GT(s.GetLength(), 256);
    EXPECT_STREQ(s.Right(4), " end");
}
