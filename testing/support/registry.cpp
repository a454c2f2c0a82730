#include "winetest/registry.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace winetest {
namespace {

// Owns one open key.
class Key {
public:
    Key() = default;
    ~Key() { if (h_) RegCloseKey(h_); }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY* Out() { return &h_; }
    HKEY get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
private:
    HKEY h_ = nullptr;
};

std::string RootName(HKEY root) {
    if (root == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
    if (root == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
    if (root == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
    if (root == HKEY_USERS) return "HKEY_USERS";
    if (root == HKEY_CURRENT_CONFIG) return "HKEY_CURRENT_CONFIG";
    return "HKEY_DYN_DATA";
}

[[noreturn]] void Fail(const std::string& what, HKEY root, const std::string& path, LONG rc) {
    throw std::runtime_error("registry fixture: " + what + " " + RootName(root) + "\\" + path +
                             " failed with error " + std::to_string(rc));
}

bool KeyExists(HKEY root, const std::string& path) {
    Key k;
    return RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, k.Out()) == ERROR_SUCCESS;
}

std::string Parent(const std::string& path) {
    size_t slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool ReadValue(HKEY key, const std::string& name, DWORD* type, std::vector<BYTE>* data) {
    DWORD size = 0;
    if (RegQueryValueExA(key, name.c_str(), nullptr, type, nullptr, &size) != ERROR_SUCCESS) return false;
    data->assign(size, 0);
    if (RegQueryValueExA(key, name.c_str(), nullptr, type, data->data(), &size) != ERROR_SUCCESS) return false;
    data->resize(size);
    return true;
}

std::vector<std::string> SubkeyNames(HKEY key) {
    std::vector<std::string> names;
    char name[512];
    for (DWORD i = 0;; ++i) {
        DWORD len = sizeof(name);
        if (RegEnumKeyExA(key, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, len);
    }
    return names;
}

std::vector<std::pair<std::string, std::pair<DWORD, std::vector<BYTE>>>> AllValues(HKEY key) {
    std::vector<std::pair<std::string, std::pair<DWORD, std::vector<BYTE>>>> values;
    char name[16384];
    for (DWORD i = 0;; ++i) {
        DWORD len = sizeof(name), type = 0, size = 0;
        if (RegEnumValueA(key, i, name, &len, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        std::vector<BYTE> data;
        if (!ReadValue(key, std::string(name, len), &type, &data)) continue;
        values.push_back({std::string(name, len), {type, data}});
    }
    return values;
}

}  // namespace

HKEY RootKey(RegRoot root) {
    switch (root) {
        case RegRoot::LocalMachine: return HKEY_LOCAL_MACHINE;
        case RegRoot::CurrentUser: return HKEY_CURRENT_USER;
        case RegRoot::ClassesRoot: return HKEY_CLASSES_ROOT;
        case RegRoot::Users: return HKEY_USERS;
        case RegRoot::CurrentConfig: return HKEY_CURRENT_CONFIG;
        case RegRoot::DynData: return HKEY_DYN_DATA;
    }
    return HKEY_LOCAL_MACHINE;
}

bool DeleteKeyTree(HKEY root, const std::string& path) {
    {
        Key k;
        if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | KEY_WRITE, k.Out()) != ERROR_SUCCESS)
            return !KeyExists(root, path);
        for (const std::string& sub : SubkeyNames(k.get())) DeleteKeyTree(root, path + "\\" + sub);
    }
    RegDeleteKeyA(root, path.c_str());
    return !KeyExists(root, path);
}

namespace {

// Creates the key with its missing parents. Below a volatile key (HKLM\HARDWARE) the new levels
// must be volatile too.
LONG CreateKeyRaw(HKEY root, const std::string& path, REGSAM access, HKEY* out) {
    LONG rc = RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, out, nullptr);
    if (rc == ERROR_CHILD_MUST_BE_VOLATILE)
        rc = RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_VOLATILE, access, nullptr, out, nullptr);
    return rc;
}

void CreateKey(HKEY root, const std::string& path, Key* key) {
    LONG rc = CreateKeyRaw(root, path, KEY_READ | KEY_WRITE, key->Out());
    if (rc != ERROR_SUCCESS) Fail("creating", root, path, rc);
}

std::vector<RegKeyText> Parse(const std::string& text) {
    std::vector<RegKeyText> keys;
    std::string error;
    if (!ParseRegText(text, &keys, &error)) throw std::runtime_error("registry fixture: " + error);
    return keys;
}

std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("registry fixture: cannot read " + path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

void ApplyRegText(const std::string& text) {
    for (const RegKeyText& k : Parse(text)) {
        HKEY root = RootKey(k.root);
        if (k.remove) {
            if (!DeleteKeyTree(root, k.path)) Fail("deleting", root, k.path, ERROR_ACCESS_DENIED);
            continue;
        }
        Key key;
        CreateKey(root, k.path, &key);
        for (const RegValueText& v : k.values) {
            LONG rc = v.remove ? RegDeleteValueA(key.get(), v.name.c_str())
                               : RegSetValueExA(key.get(), v.name.c_str(), 0, v.type, v.data.data(),
                                                static_cast<DWORD>(v.data.size()));
            if (rc != ERROR_SUCCESS && !(v.remove && rc == ERROR_FILE_NOT_FOUND))
                Fail("writing value \"" + v.name + "\" of", root, k.path, rc);
        }
    }
}

void RegFixture::LoadFile(const std::string& path) { Load(ReadFileText(path)); }

void RegFixture::Load(const std::string& text) {
    for (const RegKeyText& k : Parse(text)) {
        HKEY root = RootKey(k.root);
        if (k.remove) {
            if (!KeyExists(root, k.path)) continue;
            Step step{Step::RestoreTree, root, k.path, {}, {}};
            // Snapshot the subtree, parents first, so Undo can recreate it in order.
            std::vector<std::string> todo{k.path};
            for (size_t i = 0; i < todo.size(); ++i) {
                Key sub;
                if (RegOpenKeyExA(root, todo[i].c_str(), 0, KEY_READ, sub.Out()) != ERROR_SUCCESS) continue;
                SavedKey saved{todo[i], {}};
                for (auto& v : AllValues(sub.get())) saved.values.push_back({v.first, v.second.first, v.second.second});
                step.tree.push_back(saved);
                for (const std::string& name : SubkeyNames(sub.get())) todo.push_back(todo[i] + "\\" + name);
            }
            undo_.push_back(step);
            if (!DeleteKeyTree(root, k.path)) Fail("deleting", root, k.path, ERROR_ACCESS_DENIED);
            continue;
        }
        // Remember every level this fixture creates. The key itself goes with all below it (what
        // the program under test wrote there too); a parent it had to create goes only when it is
        // empty again, since fixtures of other tests may have hung their keys under it meanwhile.
        std::vector<std::string> created;
        for (std::string p = k.path; !p.empty() && !KeyExists(root, p); p = Parent(p)) created.push_back(p);
        const std::string top = created.empty() ? std::string() : created.back();
        Key key;
        CreateKey(root, k.path, &key);
        for (auto level = created.rbegin(); level != created.rend(); ++level) {
            Step::Kind kind = *level == k.path ? Step::DeleteCreatedKey : Step::DeleteCreatedParent;
            undo_.push_back({kind, root, *level, {}, {}});
        }
        for (const RegValueText& v : k.values) {
            SavedValue old{v.name, 0, {}};
            bool existed = ReadValue(key.get(), v.name, &old.type, &old.data);
            if (top.empty()) {  // inside a key that was there before: restore the value itself
                if (existed)
                    undo_.push_back({Step::RestoreValue, root, k.path, old, {}});
                else if (!v.remove)
                    undo_.push_back({Step::RemoveAddedValue, root, k.path, old, {}});
            }
            LONG rc = v.remove ? RegDeleteValueA(key.get(), v.name.c_str())
                               : RegSetValueExA(key.get(), v.name.c_str(), 0, v.type, v.data.data(),
                                                static_cast<DWORD>(v.data.size()));
            if (rc != ERROR_SUCCESS && !(v.remove && rc == ERROR_FILE_NOT_FOUND))
                Fail("writing value \"" + v.name + "\" of", root, k.path, rc);
        }
    }
}

void RegFixture::Undo() {
    for (auto it = undo_.rbegin(); it != undo_.rend(); ++it) {
        const Step& s = *it;
        switch (s.kind) {
            case Step::DeleteCreatedKey:
                DeleteKeyTree(s.root, s.path);
                break;
            case Step::DeleteCreatedParent: {
                // Wine's RegDeleteKey takes a key with subkeys too: look first.
                bool empty;
                {
                    Key key;
                    if (RegOpenKeyExA(s.root, s.path.c_str(), 0, KEY_READ, key.Out()) != ERROR_SUCCESS) break;
                    empty = SubkeyNames(key.get()).empty();
                }
                if (empty) RegDeleteKeyA(s.root, s.path.c_str());
                break;
            }
            case Step::RestoreValue:
            case Step::RemoveAddedValue: {
                Key key;
                if (RegOpenKeyExA(s.root, s.path.c_str(), 0, KEY_WRITE, key.Out()) != ERROR_SUCCESS) break;
                if (s.kind == Step::RestoreValue)
                    RegSetValueExA(key.get(), s.value.name.c_str(), 0, s.value.type, s.value.data.data(),
                                   static_cast<DWORD>(s.value.data.size()));
                else
                    RegDeleteValueA(key.get(), s.value.name.c_str());
                break;
            }
            case Step::RestoreTree:
                for (const SavedKey& saved : s.tree) {
                    Key key;
                    if (CreateKeyRaw(s.root, saved.path, KEY_WRITE, key.Out()) != ERROR_SUCCESS)
                        continue;
                    for (const SavedValue& v : saved.values)
                        RegSetValueExA(key.get(), v.name.c_str(), 0, v.type, v.data.data(),
                                       static_cast<DWORD>(v.data.size()));
                }
                break;
        }
    }
    undo_.clear();
}

}  // namespace winetest
