// The shared section behind the stage clock (stage_clock.h): a measuring program creates it and
// clears it before each request; every process of the chain that attaches stamps into it.
#pragma once

#include <cstdint>

#include "common/stage_clock.h"

namespace stageclock {

// Installs the stamp writer when the measuring program's section exists; false when it does not
// (then stamps go nowhere).
bool attach();

// For the measuring program: makes the section (and attaches this process to it).
class Section {
public:
    Section();
    ~Section();
    Section(const Section&) = delete;
    Section& operator=(const Section&) = delete;
    bool ok() const { return slots_ != nullptr; }
    void clear();
    // The performance counter's value at `stage`, 0 when it was not crossed since the clear.
    int64_t at(unsigned stage) const;

private:
    void* mapping_ = nullptr;
    volatile int64_t* slots_ = nullptr;
};

}  // namespace stageclock
