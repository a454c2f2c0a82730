// Splitting a registry path text: the root name before the first backslash, the subkey path
// after it. No Windows header.
#pragma once

#include <string>

enum class RegRootName { LocalMachine, CurrentUser, Users, CurrentConfig, DynData };

struct RegPath {
    RegRootName root = RegRootName::LocalMachine;
    std::string subkey;
};

// Root names compare case-sensitively; anything else (and a text without a backslash, which is
// then the whole subkey path) names HKEY_LOCAL_MACHINE.
RegPath SplitRegPath(const std::string& path);

// The parent and the last component of a subkey path ("" parent when it has one component).
void SplitLastComponent(const std::string& path, std::string* parent, std::string* leaf);
