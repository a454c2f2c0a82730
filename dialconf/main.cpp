// dialconf: configures the ISDN Tamrisk terminal adapter.
#include <windows.h>

#include "dialconf/dialconf_app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int) {
    CDialconfApp app;
    return app.Run(instance, command_line);
}
