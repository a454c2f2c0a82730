// The module that string-table texts and dialog templates are loaded from: the program itself, or
// the language resource library that the program chose at start-up.
#pragma once

#include <windows.h>

namespace fw {

HINSTANCE ResourceHandle();            // the program's own module until set
void SetResourceHandle(HINSTANCE module);
// The module to load the resource `name` of `type` from: the resource module when it holds it,
// else the program's own (a language library may lack some of the program's resources).
HINSTANCE ResourceModuleFor(LPCSTR name, LPCSTR type);

}  // namespace fw
