// The command-line upgrade ("/TVL", "/FLASH_BOTH"): the selected modem's firmware made ready for
// the ISDN add-on, or both the add-on and the modem upgraded with the user swapping the add-on in
// between, from the packages in the program folder. Only message boxes and the update dialogs show.
#pragma once

#include <windows.h>

// FALSE when no modem is selected or the user gave up waiting for the port; TRUE otherwise.
BOOL RunKitUpdateFromCommandLine();
