// cardflash that writes what its start-up detected to its log instead of showing the main window
// (tests of the start-up only; the cases copy it into the program folder as cardflash.exe).
#include <windows.h>

#include "cardflash/app/testhost/detection_log.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int) {
    DetectionLogApp app;
    return app.Run(instance, command_line);
}
