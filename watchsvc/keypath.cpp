#include "keypath.h"

namespace watchsvc {

namespace {

wchar_t UpperAscii(wchar_t c) { return (c >= L'a' && c <= L'z') ? wchar_t(c - L'a' + L'A') : c; }

void AppendComponents(KeyPath& out, const std::wstring& path) {
    std::wstring part;
    for (wchar_t c : path) {
        if (c == L'\\') {
            if (!part.empty()) out.push_back(part);
            part.clear();
        } else {
            part.push_back(UpperAscii(c));
        }
    }
    if (!part.empty()) out.push_back(part);
}

bool IsRefusedHive(const std::wstring& upperComponent) {
    return upperComponent == L"SECURITY" || upperComponent == L"SAM";
}

}  // namespace

KeyPath SplitKeyPath(const std::wstring& path) {
    KeyPath out;
    AppendComponents(out, path);
    return out;
}

KeyPath JoinKeyPath(const KeyPath& base, const std::wstring& relative) {
    KeyPath out = base;
    AppendComponents(out, relative);
    return out;
}

bool IsRefusedMachinePath(const KeyPath& machinePath) {
    return !machinePath.empty() && IsRefusedHive(machinePath[0]);
}

bool IsRefusedNativeKeyName(const std::wstring& nativeName) {
    KeyPath p = SplitKeyPath(nativeName);
    return p.size() >= 3 && p[0] == L"REGISTRY" && p[1] == L"MACHINE" && IsRefusedHive(p[2]);
}

}  // namespace watchsvc
