// Any bytes as the lines of an uninstall list and as a WININIT.INI file: the line rules stay
// inside their text, a registry line never names a whole root or a top-level key outside HKCR,
// the directory walk never reaches or passes the destination, and a new WININIT.INI entry is the
// only change to the file: its bytes all stay, in order, around one piece inserted at the start of
// a line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "remover/uninstall_rules.h"

namespace {

// True when `out` is `text` with one of the pieces that adding `entry` may insert (a line break
// that ends an unfinished last line, a new [Rename] header, the entry, its line break) put in
// at the start of a line, and nothing else changed.
bool IsTextWithEntryInserted(const std::string& text, const std::string& out, const std::string& entry) {
    if (out.size() <= text.size()) return false;
    const std::size_t extra = out.size() - text.size();
    size_t prefix = 0;
    while (prefix < text.size() && out[prefix] == text[prefix]) ++prefix;
    size_t suffix = 0;
    while (suffix < text.size() && out[out.size() - 1 - suffix] == text[text.size() - 1 - suffix]) ++suffix;
    for (const char* eol : {"\r\n", "\n"}) {
        const std::string e = eol;
        for (const std::string& piece :
             {entry, entry + e, e + entry, e + entry + e, "[Rename]" + e + entry, "[Rename]" + e + entry + e,
              e + "[Rename]" + e + entry + e}) {
            if (piece.size() != extra) continue;
            // The place: out and text agree before it and after the piece, and it starts a
            // line: at the start of the file, after a line break, or (a piece that begins with
            // its own line break) at the end of an unfinished last line.
            const bool own_break = piece.compare(0, e.size(), e) == 0;
            const size_t lowest = text.size() > suffix ? text.size() - suffix : 0;
            for (size_t at = lowest; at <= prefix; ++at) {
                const bool starts_line = own_break ? at == text.size() && !text.empty() && text.back() != '\n'
                                                   : at == 0 || out[at - 1] == '\n';
                if (starts_line && out.compare(at, piece.size(), piece) == 0) return true;
            }
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace remover;
    const char* bytes = reinterpret_cast<const char*>(data);
    const std::string text(bytes, size);

    // A section buffer: every line lies inside the bytes given.
    size_t total = 0;
    for (const CString& line : SplitSection(bytes, size)) total += static_cast<size_t>(line.GetLength()) + 1;
    if (total > size + 1) std::abort();

    // The first line is the destination, every other one a list line.
    const size_t nl = text.find('\n');
    const CString destination(text.substr(0, nl == std::string::npos ? size : nl));
    const CString rest(nl == std::string::npos ? std::string() : text.substr(nl + 1));
    RegistryLine reg;
    if (ParseRegistryLine(rest, &reg)) {
        const std::string key = reg.subkey.str();
        if (key.empty() || key.front() == '\\' || key.back() == '\\' || key.find("\\\\") != std::string::npos) std::abort();
        if (reg.root != RegRoot::ClassesRoot && key.find('\\') == std::string::npos) std::abort();
    }
    FolderWord(rest);
    ShortcutTitle(rest);
    ListPathFromCommandLine(rest);
    FileVersionAccepted(rest);
    std::vector<CString> fields;
    if (SplitLaunchLine(rest, &fields) && (fields.empty() || fields.size() > 9)) std::abort();
    for (const CString& dir : DirectoryWalk(rest, destination)) {
        if (SamePath(dir, destination)) std::abort();
        if (IsInside(destination, dir) && IsInside(rest, destination)) std::abort();
    }
    TargetMayBeDeleted(rest, destination, {destination}, {SharedFolder{destination, true}});

    // WININIT.INI: the entry is added and nothing of the file is lost.
    const std::string out = AddRenameEntry(text, "C:\\X.EXE");
    if (!IsTextWithEntryInserted(text, out, "NUL=C:\\X.EXE")) std::abort();
    return 0;
}
