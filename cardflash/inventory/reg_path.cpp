#include "cardflash/inventory/reg_path.h"

RegPath SplitRegPath(const std::string& path) {
    RegPath out;
    size_t slash = path.find('\\');
    if (slash == std::string::npos) {
        out.subkey = path;
        return out;
    }
    std::string root = path.substr(0, slash);
    out.subkey = path.substr(slash + 1);
    if (root == "HKEY_CURRENT_USER") out.root = RegRootName::CurrentUser;
    else if (root == "HKEY_USERS") out.root = RegRootName::Users;
    else if (root == "HKEY_CURRENT_CONFIG") out.root = RegRootName::CurrentConfig;
    else if (root == "HKEY_DYN_DATA") out.root = RegRootName::DynData;
    return out;
}

void SplitLastComponent(const std::string& path, std::string* parent, std::string* leaf) {
    size_t slash = path.rfind('\\');
    if (slash == std::string::npos) {
        parent->clear();
        *leaf = path;
    } else {
        *parent = path.substr(0, slash);
        *leaf = path.substr(slash + 1);
    }
}
