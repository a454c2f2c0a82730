// The provider's interfaces bound to the real parts: link control (portbridge/stack) and the CAPI
// engine (portbridge/capi). No Windows header; the timer service and the window are bound in the
// program.
#pragma once

#include "portbridge/provider/ta_services.h"

namespace pbprov {

// Link control's operations. The serial device is "\\.\COM<n>", which reaches every port number.
CTaLinkOps* createStackLink();
// The CAPI engine's application table, with its port links and its pacing timer on `timers`.
CTaEngineOps* createCapiEngine(CTaTimerOps* timers);

}  // namespace pbprov
