// The native build has no string tables: every entry reads as missing.
#include "framework/cstring.h"

bool CString::LoadText(unsigned int) { return false; }
