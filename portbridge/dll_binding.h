// A binding to a loadable module by file name: load, entry points by name (misses counted),
// unload. (Nothing in the provider uses it yet.)
#pragma once

#include <cstdint>

#include "common/debug.h"

namespace portbridge {

class CDllBinding {
public:
    CDllBinding() = default;
    virtual ~CDllBinding() { unload(); }
    CDllBinding(const CDllBinding&) = delete;
    CDllBinding& operator=(const CDllBinding&) = delete;

    // FreeLibrary when loaded.
    virtual void unload();
    // LoadLibrary without the system's "file not found" box; 0 (the name is kept), else the
    // system error.
    virtual uint32_t load(const char* fileName);
    // The entry point, or null (a miss counts; null without a module, not counted).
    void* entryPoint(const char* name);
    // Calls the module's debugCaptureOutput with `proc`: 1, or 0 when it has none (not counted).
    int captureDebugOutput(DebugOutputProc proc);

    bool loaded() const { return module_ != nullptr; }
    const char* fileName() const { return name_; }
    uint32_t missing() const { return missing_; }

private:
    void* module_ = nullptr;
    char name_[260] = {};
    uint32_t missing_ = 0;
};

}  // namespace portbridge
