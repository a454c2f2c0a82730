// A stand-in for a program that another program starts (an uninstaller, a [Launch] program): it
// appends its command line and its current folder to started.txt beside itself, one line
// "<command line>|<current folder>", and ends.
#include <windows.h>

#include <string>

int main() {
    char exe[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, exe, sizeof(exe));
    std::string folder(exe, n);
    folder = folder.substr(0, folder.find_last_of('\\'));
    char current[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof(current), current);
    std::string line = std::string(GetCommandLineA()) + "|" + current + "\r\n";
    HANDLE f = CreateFileA((folder + "\\started.txt").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    WriteFile(f, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(f);
    return 0;
}
