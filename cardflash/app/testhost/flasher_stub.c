/* The DOS flasher's stand-in for the tests: it writes the command line it was started with to
   "flasher.txt" beside itself and ends. */
#include <windows.h>
#include <stdio.h>
#include <string.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show) {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, path, sizeof(path));
    char* slash;
    FILE* f;
    (void)instance;
    (void)previous;
    (void)command_line;
    (void)show;
    if (n == 0 || n >= sizeof(path)) return 1;
    slash = strrchr(path, '\\');
    if (!slash || (size_t)(slash - path) + 13 >= sizeof(path)) return 1;
    strcpy(slash + 1, "flasher.txt");
    f = fopen(path, "w");
    if (!f) return 1;
    fputs(GetCommandLineA(), f);
    fclose(f);
    return 0;
}
