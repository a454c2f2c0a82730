// remover: uninstalls a product by following its uninstall list (.UNI).
#include <windows.h>

#include "remover/uninstall_app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int) {
    UninstallApp app;
    return app.Run(instance, command_line);
}
