// startRuntime with the real tasks: the stack's start-up table and the serial task's settings.
#include "portbridge/stack/hdlc.h"
#include "portbridge/stack/link_control.h"
#include "portbridge/stack/serial_task.h"
#include "portbridge/stack/timer_service.h"

namespace stack {

uint32_t startRuntime(LinkIndicationFn callback, void* context) {
    const StackTaskInits inits{&timerServiceInit, &hdlcInit, &serialTaskInit, &linkControlInit};
    const LinkPlatform platform{&setSerialPortName, &setSerialModeCommand};
    return startRuntimeWith(inits, platform, callback, context);
}

}  // namespace stack
