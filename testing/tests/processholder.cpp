// processholder PROGRAM PIDFILE: starts PROGRAM ("msgbox held") as a test starts a program, writes
// its process id to PIDFILE, and waits until it is ended from outside, as a test program waits
// for its program when ctest's time-out ends it.
#include <windows.h>

#include <cstdio>

#include "winetest/process.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: processholder PROGRAM PIDFILE\n");
        return 2;
    }
    winetest::Process program;
    if (!program.Start(argv[1], "msgbox held")) {
        std::fprintf(stderr, "processholder: cannot start %s (error %lu)\n", argv[1], program.last_error());
        return 1;
    }
    // Written whole under another name first: the test reads the file as soon as it exists.
    const std::string part = std::string(argv[2]) + ".part";
    std::FILE* f = std::fopen(part.c_str(), "w");
    if (!f) return 1;
    std::fprintf(f, "%lu\n", program.pid());
    std::fclose(f);
    if (!MoveFileA(part.c_str(), argv[2])) return 1;
    Sleep(INFINITE);
    return 0;
}
