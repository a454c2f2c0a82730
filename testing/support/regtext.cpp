#include "winetest/regtext.h"

#include <cctype>

namespace winetest {
namespace {

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

// Reads a quoted string starting at s[*pos] == '"'; leaves *pos after the closing quote.
bool ReadQuoted(const std::string& s, size_t* pos, std::string* out) {
    if (*pos >= s.size() || s[*pos] != '"') return false;
    out->clear();
    for (size_t i = *pos + 1; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            out->push_back(s[++i]);
        } else if (s[i] == '"') {
            *pos = i + 1;
            return true;
        } else {
            out->push_back(s[i]);
        }
    }
    return false;
}

bool ParseHexBytes(const std::string& s, std::vector<uint8_t>* out) {
    out->clear();
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (std::isspace(static_cast<unsigned char>(s[i])) || s[i] == ',')) ++i;
        if (i >= s.size()) break;
        size_t start = i;
        while (i < s.size() && std::isxdigit(static_cast<unsigned char>(s[i]))) ++i;
        if (i - start == 0 || i - start > 2) return false;
        out->push_back(static_cast<uint8_t>(std::stoul(s.substr(start, i - start), nullptr, 16)));
        if (i < s.size() && s[i] != ',' && !std::isspace(static_cast<unsigned char>(s[i]))) return false;
    }
    return true;
}

bool ParseValueData(const std::string& data, RegValueText* v) {
    if (data == "-") {
        v->remove = true;
        return true;
    }
    if (!data.empty() && data[0] == '"') {
        size_t pos = 0;
        std::string text;
        if (!ReadQuoted(data, &pos, &text) || !Trim(data.substr(pos)).empty()) return false;
        v->type = 1;  // REG_SZ
        v->data.assign(text.begin(), text.end());
        v->data.push_back(0);
        return true;
    }
    std::string lower = data;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.rfind("dword:", 0) == 0) {
        std::string digits = Trim(data.substr(6));
        if (digits.empty() || digits.size() > 8) return false;
        for (char c : digits)
            if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        uint32_t n = static_cast<uint32_t>(std::stoul(digits, nullptr, 16));
        v->type = 4;  // REG_DWORD, little-endian as stored
        v->data = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
                   static_cast<uint8_t>(n >> 24)};
        return true;
    }
    if (lower.rfind("hex:", 0) == 0) {
        v->type = 3;  // REG_BINARY
        return ParseHexBytes(data.substr(4), &v->data);
    }
    if (lower.rfind("hex(", 0) == 0) {
        size_t close = data.find("):");
        if (close == std::string::npos || close == 4) return false;
        std::string num = data.substr(4, close - 4);
        for (char c : num)
            if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        v->type = static_cast<uint32_t>(std::stoul(num, nullptr, 16));
        return ParseHexBytes(data.substr(close + 2), &v->data);
    }
    return false;
}

}  // namespace

bool ParseRegRoot(const std::string& name, RegRoot* root) {
    static const struct { const char* long_name; const char* short_name; RegRoot root; } kRoots[] = {
        {"HKEY_LOCAL_MACHINE", "HKLM", RegRoot::LocalMachine},
        {"HKEY_CURRENT_USER", "HKCU", RegRoot::CurrentUser},
        {"HKEY_CLASSES_ROOT", "HKCR", RegRoot::ClassesRoot},
        {"HKEY_USERS", "HKU", RegRoot::Users},
        {"HKEY_CURRENT_CONFIG", "HKCC", RegRoot::CurrentConfig},
        {"HKEY_DYN_DATA", "HKDD", RegRoot::DynData},
    };
    std::string u = Upper(name);
    for (const auto& r : kRoots) {
        if (u == r.long_name || u == r.short_name) {
            *root = r.root;
            return true;
        }
    }
    return false;
}

bool ParseRegText(const std::string& text, std::vector<RegKeyText>* keys, std::string* error) {
    keys->clear();
    std::vector<std::string> lines;
    std::vector<int> line_numbers;
    {
        // Join continuation lines (ending in '\') first, remembering where each logical line began.
        std::string current;
        int number = 0, start = 0;
        size_t pos = 0;
        while (pos <= text.size()) {
            size_t eol = text.find('\n', pos);
            if (eol == std::string::npos) eol = text.size();
            std::string line = text.substr(pos, eol - pos);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            ++number;
            if (current.empty()) start = number;
            std::string t = Trim(line);
            // Only hex data continues over lines, as regedit writes it.
            bool continues = !t.empty() && t.back() == '\\' &&
                             (!current.empty() || t.find("=hex") != std::string::npos);
            if (continues) {
                current += t.substr(0, t.size() - 1);
            } else {
                current += t;
                lines.push_back(current);
                line_numbers.push_back(start);
                current.clear();
            }
            pos = eol + 1;
        }
        if (!current.empty()) {
            lines.push_back(current);
            line_numbers.push_back(start);
        }
    }

    auto fail = [&](size_t i, const std::string& what) {
        if (error) *error = "line " + std::to_string(line_numbers[i]) + ": " + what;
        return false;
    };

    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line.rfind("REGEDIT4", 0) == 0 || line.rfind("Windows Registry Editor", 0) == 0) continue;
        if (line[0] == '[') {
            if (line.back() != ']') return fail(i, "key line without ']'");
            RegKeyText key;
            std::string name = line.substr(1, line.size() - 2);
            if (!name.empty() && name[0] == '-') {
                key.remove = true;
                name.erase(0, 1);
            }
            size_t slash = name.find('\\');
            std::string root = name.substr(0, slash);
            if (!ParseRegRoot(root, &key.root)) return fail(i, "unknown root '" + root + "'");
            key.path = slash == std::string::npos ? std::string() : name.substr(slash + 1);
            while (!key.path.empty() && key.path.back() == '\\') key.path.pop_back();
            keys->push_back(key);
            continue;
        }
        if (keys->empty()) return fail(i, "value before the first key");
        if (keys->back().remove) return fail(i, "value under a key that is deleted");
        RegValueText value;
        size_t pos = 0;
        if (line[0] == '@') {
            pos = 1;
        } else if (!ReadQuoted(line, &pos, &value.name)) {
            return fail(i, "value name must be quoted or @");
        }
        std::string rest = Trim(line.substr(pos));
        if (rest.empty() || rest[0] != '=') return fail(i, "missing '=' after the value name");
        if (!ParseValueData(Trim(rest.substr(1)), &value)) return fail(i, "bad value data '" + rest.substr(1) + "'");
        keys->back().values.push_back(value);
    }
    return true;
}

}  // namespace winetest
