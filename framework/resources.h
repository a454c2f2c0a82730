// The module that string-table texts and dialog templates are loaded from: the program itself, or
// the language resource library that the program chose at start-up.
#pragma once

#include <windows.h>

namespace fw {

HINSTANCE ResourceHandle();            // the program's own module until set
void SetResourceHandle(HINSTANCE module);

}  // namespace fw
