// cardflash: finds the maker's adapters and upgrades the firmware of their modems.
#include <windows.h>

#include "cardflash/app/conf_util_app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int) {
    CConfUtilApp app;
    return app.Run(instance, command_line);
}
