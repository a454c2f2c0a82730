// The rules of the registry server that need no registry: key paths and the refused hives, value
// decoding, the command line, and the numbers that stand for open keys.
#include <gtest/gtest.h>

#include "cmdline.h"
#include "handletable.h"
#include "keypath.h"
#include "valuedata.h"

namespace watchsvc {
namespace {

TEST(KeyPath, SplitsDropsEmptyPartsAndUpperCases) {
    EXPECT_EQ(SplitKeyPath(L"System\\CurrentControlSet"), (KeyPath{L"SYSTEM", L"CURRENTCONTROLSET"}));
    EXPECT_EQ(SplitKeyPath(L"\\\\sam\\\\x\\"), (KeyPath{L"SAM", L"X"}));
    EXPECT_TRUE(SplitKeyPath(L"").empty());
    EXPECT_TRUE(SplitKeyPath(L"\\\\").empty());
    EXPECT_EQ(JoinKeyPath({L"SOFTWARE"}, L"\\Classes\\"), (KeyPath{L"SOFTWARE", L"CLASSES"}));
}

TEST(KeyPath, RefusesSecurityAndSamHowever) {
    struct Case {
        const wchar_t* name;
        bool refused;
    } cases[] = {
        {L"\\SAM", true},          {L"\\sam\\x", true},         {L"SAM", true},
        {L"Sam\\Domains", true},   {L"\\\\SECURITY\\Policy", true}, {L"security", true},
        {L"SECURITY\\Policy", true}, {L"SAM\\", true},          {L"\\Security\\", true},
        {L"SAMPLE", false},        {L"SECURITYX\\A", false},    {L"SYSTEM\\SAM", false},
        {L"Software", false},      {L"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsRefusedMachinePath(SplitKeyPath(c.name)), c.refused) << std::string(c.name, c.name + wcslen(c.name));
    // Through a key opened earlier: an empty name first, the hive below it next.
    EXPECT_TRUE(IsRefusedMachinePath(JoinKeyPath(SplitKeyPath(L""), L"sam")));
    EXPECT_TRUE(IsRefusedMachinePath(JoinKeyPath(SplitKeyPath(L"\\"), L"Security\\Policy")));
}

TEST(KeyPath, NativeNamesOfTheRefusedHives) {
    EXPECT_TRUE(IsRefusedNativeKeyName(L"\\REGISTRY\\MACHINE\\SAM"));
    EXPECT_TRUE(IsRefusedNativeKeyName(L"\\Registry\\Machine\\Security\\Policy"));
    EXPECT_FALSE(IsRefusedNativeKeyName(L"\\REGISTRY\\MACHINE\\SOFTWARE\\SAM"));
    EXPECT_FALSE(IsRefusedNativeKeyName(L"\\REGISTRY\\USER\\SAM"));
    EXPECT_FALSE(IsRefusedNativeKeyName(L""));
}

DecodedValue Decode(std::uint32_t type, const std::string& bytes) {
    return DecodeValue(type, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

TEST(ValueData, StringsEndAtTheirZeroOrTheData) {
    EXPECT_EQ(Decode(kTypeString, std::string("abc\0", 4)).text, "abc");
    DecodedValue unterminated = Decode(kTypeString, "ab");  // no zero: the data's end is the end
    EXPECT_EQ(unterminated.kind, DecodedValue::Text);
    EXPECT_EQ(unterminated.text, "ab");
    EXPECT_EQ(Decode(kTypeExpandString, std::string("%WINDIR%\\x\0", 11)).text, "%WINDIR%\\x");
    EXPECT_EQ(Decode(kTypeMultiString, std::string("first\0second\0\0", 14)).text, "first");
    EXPECT_EQ(Decode(kTypeString, "").kind, DecodedValue::Text);
    EXPECT_EQ(DecodeValue(kTypeString, nullptr, 5).text, "");
}

TEST(ValueData, NumbersNeedFourBytes) {
    DecodedValue five = Decode(kTypeNumber, std::string("\x05\0\0\0", 4));
    EXPECT_EQ(five.kind, DecodedValue::Number);
    EXPECT_EQ(five.number, 5);
    EXPECT_EQ(Decode(kTypeNumber, "\xff\xff\xff\xff").number, -1);
    EXPECT_EQ(Decode(kTypeNumber, std::string("\x01\x02\x03\x04\x05", 5)).number, 0x04030201);
    EXPECT_EQ(Decode(kTypeNumber, "\x01\x02").kind, DecodedValue::Invalid);
    EXPECT_EQ(Decode(kTypeNumber, "").kind, DecodedValue::Invalid);
}

TEST(ValueData, OtherTypesAreEmpty) {
    EXPECT_EQ(Decode(kTypeBinary, "\x01\x02").kind, DecodedValue::Empty);
    EXPECT_EQ(Decode(kTypeNone, "").kind, DecodedValue::Empty);
    EXPECT_EQ(Decode(5 /* big-endian number */, "\0\0\0\x05").kind, DecodedValue::Empty);
}

bool LeadIs81(unsigned char c) { return c == 0x81; }

TEST(CommandLine, SwitchCountsOnlyWithNothingAfterIt) {
    struct Case {
        const char* line;
        Switch expected;
    } cases[] = {
        {"-RegServer", Switch::RegServer},     {"/regserver", Switch::RegServer},
        {"-UnregServer", Switch::UnregServer}, {"/UNREGSERVER", Switch::UnregServer},
        {"-Service", Switch::Service},         {"x -y /Service", Switch::Service},
        {"-RegServer /x", Switch::None},       {"-Service ", Switch::None},
        {"-Embedding", Switch::None},          {"RegServer", Switch::None},
        {"", Switch::None},                    {"--RegServer", Switch::RegServer},
    };
    for (const Case& c : cases) EXPECT_EQ(FindSwitch(c.line), c.expected) << c.line;
    EXPECT_EQ(FindSwitch(nullptr), Switch::None);
    // A dash that is the trail byte of a double-byte character starts no switch.
    EXPECT_EQ(FindSwitch("\x81-RegServer", LeadIs81), Switch::None);
    EXPECT_EQ(FindSwitch("\x81-RegServer"), Switch::RegServer);
}

TEST(HandleTable, AcceptsOnlyNumbersItHandedOut) {
    HandleTable<int> t;
    std::int32_t a = t.Add(10), b = t.Add(20);
    EXPECT_GT(a, 0);
    EXPECT_GT(b, 0);
    EXPECT_NE(a, b);
    ASSERT_NE(t.Find(a), nullptr);
    EXPECT_EQ(*t.Find(a), 10);
    EXPECT_EQ(t.Find(0), nullptr);
    EXPECT_EQ(t.Find(b + 1000), nullptr);
    EXPECT_EQ(t.Find(std::int32_t(0x80000002u)), nullptr);
    int removed = 0;
    EXPECT_TRUE(t.Remove(a, &removed));
    EXPECT_EQ(removed, 10);
    EXPECT_FALSE(t.Remove(a, nullptr));
    EXPECT_EQ(t.Find(a), nullptr);
    std::int32_t c = t.Add(30);  // a closed number is not handed out again
    EXPECT_NE(c, a);
    EXPECT_EQ(t.size(), 2u);
}

}  // namespace
}  // namespace watchsvc
