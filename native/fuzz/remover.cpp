// Any bytes as the lines of an uninstall list and as a WININIT.INI file: the line rules stay
// inside their text, the directory walk never reaches or passes the destination, and a new
// WININIT.INI entry keeps every byte of the file it was added to.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "remover/uninstall_rules.h"

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
    if (ParseRegistryLine(rest, &reg) && reg.subkey.IsEmpty()) std::abort();
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
    TargetMayBeDeleted(rest, destination, {destination}, {destination});

    // WININIT.INI: the entry is added and nothing of the file is lost.
    const std::string out = AddRenameEntry(text, "C:\\X.EXE");
    if (out.find("NUL=C:\\X.EXE") == std::string::npos) std::abort();
    if (out.size() < size) std::abort();
    return 0;
}
