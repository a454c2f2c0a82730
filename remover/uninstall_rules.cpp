#include "remover/uninstall_rules.h"

#include <cstdlib>
#include <cstring>

namespace remover {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

CString UpperCopy(const CString& s) {
    CString u = s;
    u.MakeUpper();
    return u;
}

// The length of the part of a clean path that ".." can never climb over: "C:\" (3), "C:" (2),
// "\\server\share" and a leading "\" (1); 0 for a relative path.
int RootLength(const CString& p) {
    if (p.GetLength() >= 2 && p[1] == ':') return p.GetLength() >= 3 && p[2] == '\\' ? 3 : 2;
    if (p.Left(2) == "\\\\") {
        int server_end = p.Find('\\', 2);
        if (server_end < 0) return p.GetLength();
        int share_end = p.Find('\\', server_end + 1);
        return share_end < 0 ? p.GetLength() : share_end;
    }
    if (p.Left(1) == "\\") return 1;
    return 0;
}

}  // namespace

std::vector<CString> SplitSection(const char* buffer, std::size_t length) {
    std::vector<CString> lines;
    if (!buffer) return lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= length; ++i) {
        if (i == length || buffer[i] == '\0') {
            if (i > start) lines.emplace_back(buffer + start, static_cast<int>(i - start));
            start = i + 1;
        }
    }
    return lines;
}

CString ListPathFromCommandLine(const CString& command_line) {
    CString path = command_line;
    path.Trim();
    if (path.GetLength() >= 2 && path[0] == '"' && path[path.GetLength() - 1] == '"') {
        path = path.Mid(1, path.GetLength() - 2);
        path.Trim();
    }
    return path;
}

bool FileVersionAccepted(const CString& file_version) {
    return std::atof(file_version.c_str()) <= 1.0;
}

namespace {

// Keys that hold every program's entries of one kind: taking one of them takes what every other
// program put there (and Windows 9x deletes a key with its whole tree at once). Components in
// upper case; "?" stands for any one component, "<SET>" for a control set (CurrentControlSet or
// ControlSetnnn). Paths below these keys are a product's own.
const char* const kMachineContainers[] = {
    "SOFTWARE\\MICROSOFT", "SOFTWARE\\MICROSOFT\\WINDOWS", "SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION",
    "SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\?", "SOFTWARE\\MICROSOFT\\WINDOWS NT",
    "SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION", "SOFTWARE\\POLICIES",
    // Every child of SYSTEM is the system's: the control sets, Select, Setup.
    "SYSTEM\\?", "SYSTEM\\<SET>\\?", "SYSTEM\\<SET>\\CONTROL\\?", "SYSTEM\\<SET>\\CONTROL\\CLASS\\?",
    "SYSTEM\\<SET>\\SERVICES\\CLASS", "SYSTEM\\<SET>\\SERVICES\\CLASS\\?", "SYSTEM\\<SET>\\ENUM\\?",
    "SYSTEM\\<SET>\\ENUM\\?\\?", "SYSTEM\\<SET>\\HARDWARE PROFILES\\?",
    // Windows 9x: the device tree and the hardware profiles.
    "ENUM\\?", "ENUM\\?\\?", "CONFIG\\?", "HARDWARE\\?",
};
const char* const kUserContainers[] = {
    "SOFTWARE\\MICROSOFT", "SOFTWARE\\MICROSOFT\\WINDOWS", "SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION",
    "SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\?", "SOFTWARE\\MICROSOFT\\WINDOWS NT",
    "SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION", "SOFTWARE\\POLICIES", "CONTROL PANEL\\?",
};
const char* const kClassesContainers[] = {
    "CLSID", "INTERFACE", "TYPELIB", "APPID", "*", "*\\?", "MIME", "MIME\\DATABASE", "MIME\\DATABASE\\?",
    "FOLDER", "DIRECTORY", "DRIVE", "ALLFILESYSTEMOBJECTS", "PROTOCOLS", "PROTOCOLS\\?",
};
const char* const kCurrentConfigContainers[] = {"SYSTEM\\<SET>", "SYSTEM\\<SET>\\?", "ENUM\\?"};
const char* const kDynDataContainers[] = {"CONFIG MANAGER\\?", "PERFSTATS\\?"};

bool IsControlSet(const std::string& c) {
    if (c == "CURRENTCONTROLSET") return true;
    if (c.compare(0, 10, "CONTROLSET") != 0 || c.size() == 10) return false;
    for (std::size_t i = 10; i < c.size(); ++i)
        if (c[i] < '0' || c[i] > '9') return false;
    return true;
}

std::vector<std::string> SplitKey(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t slash = path.find('\\', start);
        parts.push_back(path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
        if (slash == std::string::npos) return parts;
        start = slash + 1;
    }
}

template <std::size_t N>
bool IsContainer(const std::vector<std::string>& key, const char* const (&patterns)[N]) {
    for (const char* pattern : patterns) {
        const std::vector<std::string> p = SplitKey(pattern);
        if (p.size() != key.size()) continue;
        bool match = true;
        for (std::size_t i = 0; i < p.size() && match; ++i)
            match = p[i] == "?" || (p[i] == "<SET>" ? IsControlSet(key[i]) : p[i] == key[i]);
        if (match) return true;
    }
    return false;
}

// Class registrations: each top-level key is one class of its own (".xyz", "Dorvex.Document"),
// but the class root itself and its shared containers are everybody's.
bool ClassesKeyAllowed(const std::vector<std::string>& key) {
    return !key.empty() && !IsContainer(key, kClassesContainers);
}

// Below a machine or a user hive. The classes within it (SOFTWARE\Classes) are judged as classes.
bool HiveKeyAllowed(const std::vector<std::string>& key, bool user) {
    if (key.size() >= 2 && key[0] == "SOFTWARE" && key[1] == "CLASSES")
        return ClassesKeyAllowed(std::vector<std::string>(key.begin() + 2, key.end()));
    // A top-level key holds every program's settings (SOFTWARE, SYSTEM, Software, Control Panel).
    if (key.size() < 2) return false;
    return user ? !IsContainer(key, kUserContainers) : !IsContainer(key, kMachineContainers);
}

}  // namespace

bool ParseRegistryLine(const CString& line, RegistryLine* out) {
    static const struct {
        const char* prefix;
        RegRoot root;
    } kRoots[] = {
        {"HKLM\\", RegRoot::LocalMachine}, {"HKCR\\", RegRoot::ClassesRoot},   {"HKCC\\", RegRoot::CurrentConfig},
        {"HKCU\\", RegRoot::CurrentUser},  {"HKUS\\", RegRoot::Users},         {"HKPD\\", RegRoot::PerformanceData},
        {"HKDD\\", RegRoot::DynData},
    };
    CString head = line.Left(5);
    for (const auto& r : kRoots) {
        if (head != r.prefix) continue;
        // Blanks and backslashes around the name, in any mix, name nothing.
        CString subkey = line.Mid(5);
        subkey.TrimLeft(" \t\r\n\\");
        subkey.TrimRight(" \t\r\n\\");
        if (subkey.IsEmpty()) return false;
        // The components as the registry compares them: without regard to case. Blanks around
        // a component make another name, but never one a list may take where the bare name is
        // refused. An empty component (A\\B), a blank one, "." and ".." are no key names; what
        // the system would make of them is no ground for a deletion.
        std::vector<std::string> key = SplitKey(UpperCopy(subkey).str());
        for (std::string& c : key) {
            std::size_t a = 0, b = c.size();
            while (a < b && IsBlank(c[a])) ++a;
            while (b > a && IsBlank(c[b - 1])) --b;
            c = c.substr(a, b - a);
            if (c.empty() || c == "." || c == "..") return false;
        }
        bool allowed = false;
        switch (r.root) {
        case RegRoot::ClassesRoot: allowed = ClassesKeyAllowed(key); break;
        case RegRoot::LocalMachine: allowed = HiveKeyAllowed(key, false); break;
        case RegRoot::CurrentUser: allowed = HiveKeyAllowed(key, true); break;
        case RegRoot::Users: {
            // The first component is a hive of its own (.DEFAULT, a user, a user's classes):
            // the rules count from the second.
            if (key.size() < 2) break;
            const std::string& hive = key[0];
            const std::vector<std::string> rest(key.begin() + 1, key.end());
            const bool classes = hive.size() > 8 && hive.compare(hive.size() - 8, 8, "_CLASSES") == 0;
            allowed = classes ? ClassesKeyAllowed(rest) : HiveKeyAllowed(rest, true);
            break;
        }
        case RegRoot::CurrentConfig: allowed = key.size() >= 2 && !IsContainer(key, kCurrentConfigContainers); break;
        case RegRoot::DynData: allowed = key.size() >= 2 && !IsContainer(key, kDynDataContainers); break;
        case RegRoot::PerformanceData: allowed = key.size() >= 2; break;
        }
        if (!allowed) return false;
        out->root = r.root;
        out->subkey = subkey;
        return true;
    }
    return false;
}

CString FolderWord(const CString& folder_name) {
    if (folder_name == kNotFound) return CString();
    CString name = folder_name;
    name.Trim();
    name.TrimRight("\\ \t");
    CString word = name.Mid(name.ReverseFind('\\') + 1);
    word.Trim();
    // A drive ("C:") is no product name either.
    if (word == "." || word == ".." || word.Find(':') >= 0) return CString();
    return word;
}

CString ShortcutTitle(const CString& lnk_path) {
    CString title = lnk_path.Mid(lnk_path.ReverseFind('\\') + 1);
    if (lnk_path.Find(".lnk") >= 0) {
        int dot = title.Find('.');
        if (dot >= 0) title = title.Left(dot);
    }
    return title;
}

bool ArgumentsNameList(const CString& arguments) {
    return arguments.Find(".UNI") >= 0 || arguments.Find(".uni") >= 0;
}

CString CleanPath(const CString& path) {
    CString p = path;
    p.Trim();
    p.Replace('/', '\\');
    if (p.IsEmpty()) return p;
    // Keep the two backslashes of a share name, collapse every other run.
    bool unc = p.Left(2) == "\\\\";
    CString collapsed = unc ? CString("\\\\") : CString();
    for (int i = unc ? 2 : 0; i < p.GetLength(); ++i) {
        if (p[i] == '\\' && collapsed.GetLength() > 0 && collapsed[collapsed.GetLength() - 1] == '\\' &&
            !(unc && collapsed.GetLength() == 2))
            continue;
        collapsed += p[i];
    }
    int root = RootLength(collapsed);
    CString head = collapsed.Left(root);
    std::vector<CString> parts;
    CString rest = collapsed.Mid(root);
    int pos = 0;
    while (pos <= rest.GetLength()) {
        int next = rest.Find('\\', pos);
        if (next < 0) next = rest.GetLength();
        CString part = rest.Mid(pos, next - pos);
        // Windows ignores trailing dots and blanks of a component; "..." and "a. " name the
        // same thing as their trimmed forms.
        CString bare = part;
        bare.TrimRight(". ");
        if (part.IsEmpty() || part == ".") {
        } else if (part == "..") {
            if (parts.empty()) return CString();
            parts.pop_back();
        } else if (bare.IsEmpty()) {
            // a component of dots and blanks only names nothing sound
            return CString();
        } else {
            parts.push_back(bare);
        }
        pos = next + 1;
    }
    CString out = head;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0 || (!out.IsEmpty() && out[out.GetLength() - 1] != '\\' && out[out.GetLength() - 1] != ':'))
            out += '\\';
        out += parts[i];
    }
    return out;
}

bool SamePath(const CString& a, const CString& b) {
    CString ca = CleanPath(a), cb = CleanPath(b);
    if (ca.IsEmpty() || cb.IsEmpty()) return false;
    return UpperCopy(ca) == UpperCopy(cb);
}

bool IsInside(const CString& path, const CString& folder) {
    CString f = UpperCopy(CleanPath(folder));
    CString p = UpperCopy(CleanPath(path));
    if (f.IsEmpty() || p.IsEmpty()) return false;
    int root = RootLength(f);
    if (root == 0 || root >= f.GetLength()) return false;  // relative, a drive, a drive or share root
    if (p.GetLength() <= f.GetLength() + 1) return false;
    return p.Left(f.GetLength()) == f && p[f.GetLength()] == '\\';
}

std::vector<CString> DirectoryWalk(const CString& entry, const CString& destination) {
    std::vector<CString> dirs;
    CString dir = CleanPath(entry);
    if (dir.IsEmpty() || SamePath(dir, destination)) return dirs;
    if (!IsInside(dir, destination)) {
        dirs.push_back(dir);
        return dirs;
    }
    while (IsInside(dir, destination)) {
        dirs.push_back(dir);
        dir = dir.Left(dir.ReverseFind('\\'));
    }
    return dirs;
}

bool TargetMayBeDeleted(const CString& target, const CString& destination, const std::vector<CString>& file_list,
                        const std::vector<SharedFolder>& shared_folders) {
    if (CleanPath(target).IsEmpty()) return false;
    bool destination_is_own = destination != kNotFound;
    for (const SharedFolder& shared : shared_folders)
        if (SamePath(destination, shared.path) || IsInside(shared.path, destination) ||
            (shared.whole_tree && IsInside(destination, shared.path)))
            destination_is_own = false;
    if (destination_is_own && IsInside(target, destination)) return true;
    for (const CString& f : file_list)
        if (SamePath(target, f)) return true;
    return false;
}

bool SplitLaunchLine(const CString& line, std::vector<CString>* fields) {
    constexpr int kMaxFields = 9, kMaxField = 499;
    fields->clear();
    int pos = 0;
    for (;;) {
        int comma = line.Find(',', pos);
        int end = comma < 0 ? line.GetLength() : comma;
        if (end - pos > kMaxField || static_cast<int>(fields->size()) == kMaxFields) {
            fields->clear();
            return false;
        }
        fields->push_back(line.Mid(pos, end - pos));
        if (comma < 0) break;
        pos = comma + 1;
    }
    CString program = (*fields)[0];
    program.Trim();
    if (program.IsEmpty()) {
        fields->clear();
        return false;
    }
    return true;
}

std::string AddRenameEntry(const std::string& text, const CString& path) {
    const std::string entry = std::string("NUL=") + path.c_str();
    if (text.empty()) return "[Rename]\r\n" + entry;

    // Lines with their own endings, so that everything else goes back byte for byte.
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t nl = text.find('\n', start);
        std::size_t end = nl == std::string::npos ? text.size() : nl + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    auto content = [](const std::string& line) {
        std::size_t a = 0, b = line.size();
        while (a < b && IsBlank(line[a])) ++a;
        while (b > a && IsBlank(line[b - 1])) --b;
        return line.substr(a, b - a);
    };
    auto is_header = [&](const std::string& line) {
        std::string c = content(line);
        return !c.empty() && c[0] == '[';
    };
    auto is_rename = [&](const std::string& line) {
        std::string c = content(line);
        if (c.size() < 8 || c[0] != '[') return false;
        std::size_t close = c.find(']');
        if (close == std::string::npos) return false;
        std::string name = c.substr(1, close - 1);
        while (!name.empty() && IsBlank(name.back())) name.pop_back();
        std::size_t lead = 0;
        while (lead < name.size() && IsBlank(name[lead])) ++lead;
        name = name.substr(lead);
        if (name.size() != 6) return false;
        for (std::size_t i = 0; i < 6; ++i)
            if (Upper(name[i]) != "RENAME"[i]) return false;
        return true;
    };
    auto ending_of = [&]() { return text.find("\r\n") != std::string::npos || text.find('\n') == std::string::npos ? std::string("\r\n") : std::string("\n"); };
    const std::string eol = ending_of();
    auto terminated = [](std::string line, const std::string& e) {
        if (line.empty() || line.back() != '\n') line += e;
        return line;
    };

    std::size_t header = lines.size();
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (is_rename(lines[i])) {
            header = i;
            break;
        }
    if (header == lines.size()) {
        std::string out = text;
        if (out.back() != '\n') out += eol;
        return out + "[Rename]" + eol + entry + eol;
    }
    // After the section's last line that is not blank (blank lines before the next section stay
    // where they are).
    std::size_t end = header + 1;
    while (end < lines.size() && !is_header(lines[end])) ++end;
    std::size_t insert = end;
    while (insert > header + 1 && content(lines[insert - 1]).empty()) --insert;
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i == insert) out += entry + eol;
        out += i + 1 == insert ? terminated(lines[i], eol) : lines[i];
    }
    if (insert == lines.size()) {
        // The entry ends the file; keep the file's own habit about a final line break.
        bool had_final = text.back() == '\n';
        out += entry;
        if (had_final) out += eol;
    }
    return out;
}

bool BootRenameTakes(const CString& path) {
    const std::string p = path.str();
    if (p.size() < 4 || !((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')) || p[1] != ':' || p[2] != '\\')
        return false;
    std::size_t start = 3;
    while (start <= p.size()) {
        std::size_t end = p.find('\\', start);
        if (end == std::string::npos) end = p.size();
        const std::string c = p.substr(start, end - start);
        const std::size_t dot = c.find('.');
        const std::size_t base = dot == std::string::npos ? c.size() : dot;
        const std::size_t ext = dot == std::string::npos ? 0 : c.size() - dot - 1;
        if (base == 0 || base > 8 || ext > 3 || (dot != std::string::npos && ext == 0)) return false;
        if (dot != std::string::npos && c.find('.', dot + 1) != std::string::npos) return false;
        for (char ch : c)
            if (static_cast<unsigned char>(ch) <= ' ' || std::strchr("\"*+,/:;<=>?[]|", ch)) return false;
        start = end + 1;
    }
    return true;
}

int SystemCode(unsigned long platform, unsigned long major, unsigned long minor, unsigned long build) {
    build &= 0xFFFF;
    if (platform == kPlatformWindows) {
        if (major == 4 && minor == 0) return build == 950 ? 1 : 2;
        if (major == 4 && minor == 10 && build == 1998) return 3;
        if (major == 4 && minor == 10 && build == 2222) return 6;
        return 0;
    }
    if (platform == kPlatformNt) {
        if (major <= 3) return -1;
        if (major == 4) return 4;
        if (major == 5) return 5;
    }
    return 0;
}

}  // namespace remover
