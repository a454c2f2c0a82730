// Registry fixtures for tests: load a tree of keys and values from .reg-style text (see regtext.h)
// and take it away again. Reaches HKEY_DYN_DATA and HKLM\HARDWARE, which Wine keeps only in the
// running wineserver and reg.exe cannot write.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "winetest/regtext.h"

namespace winetest {

HKEY RootKey(RegRoot root);

// Deletes a key with everything below it; true when it is gone afterwards.
bool DeleteKeyTree(HKEY root, const std::string& path);

// Applies fixture text without remembering anything (for tools and demos). Throws
// std::runtime_error with a clear message on bad text or a failing registry call.
void ApplyRegText(const std::string& text);

// Loads fixture text and, on destruction (or Undo), puts the registry back as it was: keys it
// created are deleted, values it changed or deleted are restored, deleted keys come back.
class RegFixture {
public:
    RegFixture() = default;
    explicit RegFixture(const std::string& text) { Load(text); }
    ~RegFixture() { Undo(); }
    RegFixture(const RegFixture&) = delete;
    RegFixture& operator=(const RegFixture&) = delete;

    void Load(const std::string& text);  // throws std::runtime_error
    void LoadFile(const std::string& path);
    void Undo();

private:
    struct SavedValue {
        std::string name;
        DWORD type = 0;
        std::vector<BYTE> data;
    };
    struct SavedKey {  // a whole subtree, for keys that the fixture deletes
        std::string path;
        std::vector<SavedValue> values;
    };
    struct Step {
        enum Kind { DeleteCreatedKey, DeleteCreatedParent, RestoreValue, RemoveAddedValue, RestoreTree } kind;
        HKEY root;
        std::string path;
        SavedValue value;            // RestoreValue / RemoveAddedValue (name only)
        std::vector<SavedKey> tree;  // RestoreTree, parents before children
    };
    std::vector<Step> undo_;
};

}  // namespace winetest
