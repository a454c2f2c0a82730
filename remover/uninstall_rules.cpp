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
        // An empty component (A\\B) is no key name; what the system would make of it is no
        // ground for a deletion.
        int components = 1;
        for (int i = 0; i < subkey.GetLength(); ++i) {
            if (subkey[i] != '\\') continue;
            if (subkey[i + 1] == '\\') return false;
            ++components;
        }
        // A top-level key of a root holds every program's settings (SOFTWARE, SYSTEM, Software,
        // a user's whole hive): no uninstall takes one whole. Classes keep theirs (".xyz").
        if (components < 2 && r.root != RegRoot::ClassesRoot) return false;
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
                        const std::vector<CString>& shared_folders) {
    if (CleanPath(target).IsEmpty()) return false;
    bool destination_is_own = destination != kNotFound;
    for (const CString& shared : shared_folders)
        if (SamePath(destination, shared) || IsInside(shared, destination)) destination_is_own = false;
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
