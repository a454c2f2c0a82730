// Which program the common code runs in. portbridge and msgcore carry the same classes with a few
// differences: TMutex's result for a failed creation (0xC000009A in portbridge, 8 in msgcore), the
// debug output's module name before init ("undefined " / "none"), and the message tracer's
// revision (a tracer takes the process's variant when it is made unless it is given one).
//
// msgcore is the default; portbridge calls commonSetVariant(CommonVariant::portbridge) first thing
// in its start-up, before any list or tracer is made.
#pragma once

#include "common/common_api.h"

enum class CommonVariant { msgcore, portbridge };

COMMON_API void commonSetVariant(CommonVariant variant);
COMMON_API CommonVariant commonVariant();
