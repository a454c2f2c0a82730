// CString and CStringArray: the string type and string list of the suite's programs.
//
// An ANSI byte string with the semantics the programs rely on: positions and counts are ints and
// are clamped to the string (Mid, Left and Right never fail, they return what exists), searches
// return -1 when nothing is found, and comparisons are by byte value. This header and cstring.cpp
// include no Windows header, so code that parses outside data with CString also builds natively;
// loading a string-table text is in cstring_win32.cpp.
#pragma once

#include <cstdarg>
#include <string>
#include <vector>

class CString {
public:
    CString() = default;
    CString(const char* s) : s_(s ? s : "") {}  // NOLINT: converts like the string it stands for
    CString(const char* s, int length);
    CString(char ch, int repeat = 1);
    CString(const std::string& s) : s_(s) {}  // NOLINT

    int GetLength() const { return static_cast<int>(s_.size()); }
    bool IsEmpty() const { return s_.empty(); }
    void Empty() { s_.clear(); }

    // Characters; a position outside the string reads as 0 and is not written.
    char GetAt(int index) const;
    void SetAt(int index, char ch);
    char operator[](int index) const { return GetAt(index); }

    operator const char*() const { return s_.c_str(); }  // NOLINT
    const char* c_str() const { return s_.c_str(); }
    const std::string& str() const { return s_; }

    // Pieces, clamped to the string.
    CString Mid(int first) const;
    CString Mid(int first, int count) const;
    CString Left(int count) const;
    CString Right(int count) const;
    CString SpanIncluding(const char* set) const;  // the leading run of characters in set
    CString SpanExcluding(const char* set) const;  // the leading run of characters not in set

    // Searches; -1 when not found or when start is past the end.
    int Find(char ch, int start = 0) const;
    int Find(const char* sub, int start = 0) const;
    int ReverseFind(char ch) const;
    int FindOneOf(const char* set) const;

    // Changes in place.
    CString& MakeUpper();
    CString& MakeLower();
    CString& MakeReverse();
    CString& TrimLeft();  // white space
    CString& TrimRight();
    CString& Trim();
    CString& TrimLeft(char ch);
    CString& TrimRight(char ch);
    CString& TrimLeft(const char* set);
    CString& TrimRight(const char* set);
    int Replace(char from, char to);                  // returns the number of replacements
    int Replace(const char* from, const char* to);    // an empty `from` replaces nothing
    int Remove(char ch);                              // returns the number removed
    int Insert(int index, char ch);                   // returns the new length
    int Insert(int index, const char* s);
    int Delete(int index, int count = 1);             // returns the new length

    int Compare(const char* s) const;        // <0, 0, >0
    int CompareNoCase(const char* s) const;  // ASCII letters only fold

    // printf-style; a text of any length.
    void Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void FormatV(const char* format, va_list args);

    // Direct access for C APIs: a buffer of at least min_length characters plus the terminator;
    // ReleaseBuffer(-1) takes the length up to the first zero, ReleaseBuffer(n) keeps n (clamped).
    char* GetBuffer(int min_length);
    char* GetBufferSetLength(int length);
    void ReleaseBuffer(int new_length = -1);

    // Text of the string-table entry `id` from the program's resource module; false (and the
    // string unchanged) when there is none. (Inline, so that windows.h's LoadString macro may
    // rename it in one file and not in another.)
    bool LoadString(unsigned int id) { return LoadText(id); }
    bool LoadText(unsigned int id);

    CString& operator=(const char* s) { s_ = s ? s : ""; return *this; }
    CString& operator=(char ch) { s_.assign(1, ch); return *this; }
    CString& operator+=(const CString& s) { s_ += s.s_; return *this; }
    CString& operator+=(const char* s) { if (s) s_ += s; return *this; }
    CString& operator+=(char ch) { s_ += ch; return *this; }

    friend CString operator+(const CString& a, const CString& b) { return CString(a.s_ + b.s_); }
    friend CString operator+(const CString& a, const char* b) { return CString(a.s_ + (b ? b : "")); }
    friend CString operator+(const char* a, const CString& b) { return CString((a ? a : "") + b.s_); }
    friend CString operator+(const CString& a, char b) { return CString(a.s_ + b); }
    friend CString operator+(char a, const CString& b) { return CString(a + b.s_); }

    friend bool operator==(const CString& a, const CString& b) { return a.s_ == b.s_; }
    friend bool operator==(const CString& a, const char* b) { return a.Compare(b) == 0; }
    friend bool operator==(const char* a, const CString& b) { return b.Compare(a) == 0; }
    friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }
    friend bool operator!=(const CString& a, const char* b) { return !(a == b); }
    friend bool operator!=(const char* a, const CString& b) { return !(a == b); }
    friend bool operator<(const CString& a, const CString& b) { return a.s_ < b.s_; }
    friend bool operator>(const CString& a, const CString& b) { return b.s_ < a.s_; }
    friend bool operator<=(const CString& a, const CString& b) { return !(b.s_ < a.s_); }
    friend bool operator>=(const CString& a, const CString& b) { return !(a.s_ < b.s_); }

private:
    std::string s_;
};

// An ordered list of strings with int positions. Reads outside the list give an empty string;
// writes and removals outside it do nothing.
class CStringArray {
public:
    int GetSize() const { return static_cast<int>(items_.size()); }
    int GetCount() const { return GetSize(); }
    int GetUpperBound() const { return GetSize() - 1; }
    bool IsEmpty() const { return items_.empty(); }
    void SetSize(int size);  // grows with empty strings or cuts

    CString GetAt(int index) const;
    void SetAt(int index, const CString& s);
    CString& ElementAt(int index);  // index must be valid
    CString operator[](int index) const { return GetAt(index); }
    CString& operator[](int index) { return ElementAt(index); }

    int Add(const CString& s);  // returns the new element's index
    int Append(const CStringArray& other);  // returns the index of the first appended element
    void InsertAt(int index, const CString& s, int count = 1);  // index past the end appends
    void RemoveAt(int index, int count = 1);
    void RemoveAll() { items_.clear(); }

private:
    std::vector<CString> items_;
};
