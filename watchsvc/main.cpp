#include <windows.h>

#include "ServiceModule.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR cmdLine, int) { return ServiceModule::Instance().WinMain(cmdLine); }
