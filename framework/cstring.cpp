#include "framework/cstring.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

bool InSet(char ch, const char* set) { return set && ch && std::strchr(set, ch) != nullptr; }
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool Space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

}  // namespace

CString::CString(const char* s, int length) {
    if (s && length > 0) s_.assign(s, static_cast<size_t>(length));
}

CString::CString(char ch, int repeat) {
    if (repeat > 0) s_.assign(static_cast<size_t>(repeat), ch);
}

char CString::GetAt(int index) const {
    return index >= 0 && index < GetLength() ? s_[static_cast<size_t>(index)] : '\0';
}

void CString::SetAt(int index, char ch) {
    if (index >= 0 && index < GetLength()) s_[static_cast<size_t>(index)] = ch;
}

CString CString::Mid(int first) const { return Mid(first, GetLength()); }

CString CString::Mid(int first, int count) const {
    int len = GetLength();
    if (first < 0) first = 0;
    if (count < 0) count = 0;
    if (first >= len) return CString();
    if (count > len - first) count = len - first;
    return CString(s_.substr(static_cast<size_t>(first), static_cast<size_t>(count)));
}

CString CString::Left(int count) const { return Mid(0, count); }

CString CString::Right(int count) const {
    int len = GetLength();
    if (count < 0) count = 0;
    if (count > len) count = len;
    return Mid(len - count, count);
}

CString CString::SpanIncluding(const char* set) const {
    int i = 0;
    while (i < GetLength() && InSet(s_[static_cast<size_t>(i)], set)) ++i;
    return Left(i);
}

CString CString::SpanExcluding(const char* set) const {
    int i = 0;
    while (i < GetLength() && !InSet(s_[static_cast<size_t>(i)], set)) ++i;
    return Left(i);
}

int CString::Find(char ch, int start) const {
    if (start < 0) start = 0;
    if (start >= GetLength()) return -1;
    size_t pos = s_.find(ch, static_cast<size_t>(start));
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int CString::Find(const char* sub, int start) const {
    if (!sub) return -1;
    if (start < 0) start = 0;
    if (start > GetLength()) return -1;
    size_t pos = s_.find(sub, static_cast<size_t>(start));
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int CString::ReverseFind(char ch) const {
    size_t pos = s_.rfind(ch);
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int CString::FindOneOf(const char* set) const {
    for (int i = 0; i < GetLength(); ++i)
        if (InSet(s_[static_cast<size_t>(i)], set)) return i;
    return -1;
}

CString& CString::MakeUpper() {
    for (char& c : s_) c = Upper(c);
    return *this;
}

CString& CString::MakeLower() {
    for (char& c : s_) c = Lower(c);
    return *this;
}

CString& CString::MakeReverse() {
    std::reverse(s_.begin(), s_.end());
    return *this;
}

CString& CString::TrimLeft() {
    size_t i = 0;
    while (i < s_.size() && Space(s_[i])) ++i;
    s_.erase(0, i);
    return *this;
}

CString& CString::TrimRight() {
    while (!s_.empty() && Space(s_.back())) s_.pop_back();
    return *this;
}

CString& CString::Trim() { return TrimRight().TrimLeft(); }

CString& CString::TrimLeft(char ch) {
    size_t i = 0;
    while (i < s_.size() && s_[i] == ch) ++i;
    s_.erase(0, i);
    return *this;
}

CString& CString::TrimRight(char ch) {
    while (!s_.empty() && s_.back() == ch) s_.pop_back();
    return *this;
}

CString& CString::TrimLeft(const char* set) {
    size_t i = 0;
    while (i < s_.size() && InSet(s_[i], set)) ++i;
    s_.erase(0, i);
    return *this;
}

CString& CString::TrimRight(const char* set) {
    while (!s_.empty() && InSet(s_.back(), set)) s_.pop_back();
    return *this;
}

int CString::Replace(char from, char to) {
    int n = 0;
    for (char& c : s_)
        if (c == from) {
            c = to;
            ++n;
        }
    return n;
}

int CString::Replace(const char* from, const char* to) {
    if (!from || !*from) return 0;
    std::string with = to ? to : "";
    size_t flen = std::strlen(from);
    int n = 0;
    std::string out;
    size_t pos = 0;
    for (;;) {
        size_t hit = s_.find(from, pos);
        if (hit == std::string::npos) break;
        out.append(s_, pos, hit - pos);
        out += with;
        pos = hit + flen;
        ++n;
    }
    if (n) {
        out.append(s_, pos, std::string::npos);
        s_.swap(out);
    }
    return n;
}

int CString::Remove(char ch) {
    size_t before = s_.size();
    s_.erase(std::remove(s_.begin(), s_.end(), ch), s_.end());
    return static_cast<int>(before - s_.size());
}

int CString::Insert(int index, char ch) {
    if (index < 0) index = 0;
    if (index > GetLength()) index = GetLength();
    s_.insert(static_cast<size_t>(index), 1, ch);
    return GetLength();
}

int CString::Insert(int index, const char* s) {
    if (index < 0) index = 0;
    if (index > GetLength()) index = GetLength();
    if (s) s_.insert(static_cast<size_t>(index), s);
    return GetLength();
}

int CString::Delete(int index, int count) {
    if (index < 0) index = 0;
    if (count > 0 && index < GetLength()) s_.erase(static_cast<size_t>(index), static_cast<size_t>(count));
    return GetLength();
}

int CString::Compare(const char* s) const {
    int r = std::strcmp(s_.c_str(), s ? s : "");
    return r < 0 ? -1 : r > 0 ? 1 : 0;
}

int CString::CompareNoCase(const char* s) const {
    const char* a = s_.c_str();
    const char* b = s ? s : "";
    for (;; ++a, ++b) {
        unsigned char ca = static_cast<unsigned char>(Lower(*a)), cb = static_cast<unsigned char>(Lower(*b));
        if (ca != cb) return ca < cb ? -1 : 1;
        if (!ca) return 0;
    }
}

void CString::Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

void CString::FormatV(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n < 0) {
        s_.clear();
        return;
    }
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(&out[0], out.size(), format, args);
    out.resize(static_cast<size_t>(n));
    s_.swap(out);
}

char* CString::GetBuffer(int min_length) {
    if (min_length > GetLength()) s_.resize(static_cast<size_t>(min_length), '\0');
    return &s_[0];
}

char* CString::GetBufferSetLength(int length) {
    s_.resize(static_cast<size_t>(length < 0 ? 0 : length), '\0');
    return &s_[0];
}

void CString::ReleaseBuffer(int new_length) {
    if (new_length < 0) {
        s_.resize(std::strlen(s_.c_str()));
    } else if (new_length < GetLength()) {
        s_.resize(static_cast<size_t>(new_length));
    }
}

void CStringArray::SetSize(int size) { items_.resize(static_cast<size_t>(size < 0 ? 0 : size)); }

CString CStringArray::GetAt(int index) const {
    return index >= 0 && index < GetSize() ? items_[static_cast<size_t>(index)] : CString();
}

void CStringArray::SetAt(int index, const CString& s) {
    if (index >= 0 && index < GetSize()) items_[static_cast<size_t>(index)] = s;
}

CString& CStringArray::ElementAt(int index) {
    // A position past the end grows the list, as assigning to it would.
    if (index < 0) index = 0;
    if (index >= GetSize()) items_.resize(static_cast<size_t>(index) + 1);
    return items_[static_cast<size_t>(index)];
}

int CStringArray::Add(const CString& s) {
    items_.push_back(s);
    return GetSize() - 1;
}

int CStringArray::Append(const CStringArray& other) {
    int first = GetSize();
    items_.insert(items_.end(), other.items_.begin(), other.items_.end());
    return first;
}

void CStringArray::InsertAt(int index, const CString& s, int count) {
    if (count <= 0) return;
    if (index < 0) index = 0;
    if (index > GetSize()) index = GetSize();
    items_.insert(items_.begin() + index, static_cast<size_t>(count), s);
}

void CStringArray::RemoveAt(int index, int count) {
    if (index < 0 || index >= GetSize() || count <= 0) return;
    int end = std::min(GetSize(), index + count);
    items_.erase(items_.begin() + index, items_.begin() + end);
}
