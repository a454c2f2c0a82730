// The debug trace of dialconf: with the command-line word "DBG" every trace text is shown in a
// message box; otherwise traces cost nothing.
#pragma once

#include "framework/cstring.h"

void SetTraceOn(bool on);
bool TraceOn();
void Trace(const CString& text);
