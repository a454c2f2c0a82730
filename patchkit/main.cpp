// patchkit: removes a previous ISDN installation before a new one.
#include <windows.h>

#include "patchkit/update_app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int) {
    UpdateApp app;
    return app.Run(instance, command_line);
}
