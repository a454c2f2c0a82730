// The texts of remover: from the string table of the resource module (the language library
// when one was loaded), else the program's own English text, so a library that lacks an entry
// never shows an empty box.
#pragma once

#include "framework/cstring.h"

CString RemoverText(unsigned int id);
