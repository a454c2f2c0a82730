#include "patchkit/cleanup_rules.h"

#include <cctype>
#include <cstring>

namespace patchkit {
namespace {

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

const char* const kGroup1[] = {"apremover.exe", "msgcore.dll", "zov.dll", "zovtest.cnt", "zovtest.exe", "zovtest.hlp"};
const char* const kGroup2[] = {"cardflash.exe", "kwtest32.dll", "zovtest.hpj", "cardflash.ini", "cardflash.hlp",
                               "tvl5324a.mpk"};

}  // namespace

Start VersionCode(unsigned long platform, unsigned long major, unsigned long minor, unsigned long build, int* code) {
    *code = 0;
    if (platform == 0) return Start::RefuseWin32s;
    if (platform == 1) {
        if (minor == 0) *code = (build & 0xFFFF) == 950 ? 1 : 2;
        else *code = 3;
        return Start::Run;
    }
    if (major <= 3) return Start::RefuseNt3;
    if (major == 4) *code = 4;
    else if (major == 5) *code = 5;
    return Start::Run;
}

bool QuietFromCommandLine(const std::string& command_line) {
    return Upper(command_line).find("/NS") == std::string::npos;
}

std::vector<std::string> DeviceSpecificKeys() {
    std::vector<std::string> keys;
    for (const char* name : {"ML-PPP", "HDLC-PPP", "T.70-BTX", "V.110", "V.120", "X.75"})
        keys.push_back(std::string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Unimodem\\DeviceSpecific\\Dorvex ISDN ") +
                       name + "::Dorvex::Dorvex");
    return keys;
}

const std::vector<std::string>& ModemKeyNames() {
    static const std::vector<std::string> names = {"HDLCPPP", "MLPPP", "T70", "V110", "V120", "X75"};
    return names;
}

std::vector<std::string> FileGroup(int group, bool nt4, bool bare) {
    std::vector<std::string> files;
    for (const char* name : group == 1 ? kGroup1 : kGroup2) {
        std::string file = nt4 ? std::string(name) : Upper(name);
        if (bare) files.push_back(Upper(name));
        else files.push_back(std::string(kFixedFolder) + "\\" + file);
    }
    return files;
}

bool IsUninstaller(const std::string& file) {
    std::string name = file.substr(file.find_last_of('\\') == std::string::npos ? 0 : file.find_last_of('\\') + 1);
    return Upper(name) == kUninstallerName;
}

bool IsMakersIsdnEntry(const char* value, std::size_t size) {
    if (!value) return false;
    std::size_t n = 0;
    while (n < size && value[n] != '\0') ++n;
    return std::string(value, n).find("Dorvex ISDN ") != std::string::npos;
}

bool IsListToHandOver(const std::string& name, const std::string& full_path) {
    return name == kListName && full_path.find("ISDN") != std::string::npos;
}

bool PathFits(const std::string& path) { return path.size() <= kMaxPath; }

std::string SearchRoot(const std::string& drive) {
    std::string root = drive;
    while (!root.empty() && root.back() == '\\') root.pop_back();
    return root;
}

std::string SearchCommandLine(const std::string& list_path) { return std::string(kUninstallerName) + " " + list_path; }

}  // namespace patchkit
