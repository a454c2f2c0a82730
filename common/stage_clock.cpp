#include "common/stage_clock.h"

namespace stageclock {

std::atomic<StampFn> g_stamp{nullptr};

const char* stageName(unsigned stage) {
    static const char* const names[kStages] = {
        "application put",     "library put",      "window message",   "CAPI engine",      "link control",
        "HDLC send",           "serial writer",    "adapter read",     "adapter line in",  "adapter line out",
        "serial reader",       "HDLC receive",     "link indication",  "engine signal",    "library get",
                "application got"};
    return stage < kStages ? names[stage] : "?";
}

}  // namespace stageclock
