// Registry key paths as the registry server checks them. No Windows header: the rules are tested on
// their own and the server applies them to the names it is asked to open.
#pragma once

#include <string>
#include <vector>

namespace watchsvc {

using KeyPath = std::vector<std::wstring>;

// The components of a key path: split at backslashes, empty components (leading, doubled and
// trailing backslashes) dropped, ASCII letters upper-cased. Callers upper-case other letters first
// with the system's rules; this only makes sure the check never depends on that.
KeyPath SplitKeyPath(const std::wstring& path);

// `base` followed by the components of `relative`.
KeyPath JoinKeyPath(const KeyPath& base, const std::wstring& relative);

// True for a path below HKEY_LOCAL_MACHINE that lies in the SECURITY or SAM hive (the hive key
// itself included), however it was spelled.
bool IsRefusedMachinePath(const KeyPath& machinePath);

// True for a native key name ("\REGISTRY\MACHINE\SAM\...", as the kernel reports an open key) that
// lies in one of those hives: the check after opening, which no spelling of the name can pass.
bool IsRefusedNativeKeyName(const std::wstring& nativeName);

}  // namespace watchsvc
