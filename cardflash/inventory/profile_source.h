// The two reads of the device database, apart from the lookups that use them: the program reads
// the file through the Win32 profile calls (static_card_info_win32.cpp); the native build links
// its own source over bytes, so the lookups run under sanitizers and the fuzzer. No Windows header.
#pragma once

#include "framework/cstring.h"

namespace devicedb {

// The value of `key` in `section` of `file`, at most `limit` characters ("" when missing).
CString ProfileValue(const char* section, const char* key, int limit, const CString& file);

// The names of `section`'s keys, or with a null section the names of the sections, as a name list
// into `buffer`: at most `size` bytes are written, and a list cut by the size may lack its zeros.
void ProfileNames(const char* section, char* buffer, int size, const CString& file);

}  // namespace devicedb
