#include "common/stage_clock_win32.h"

#include <windows.h>

namespace stageclock {

namespace {

const char kSectionName[] = "portbridgeStageClock";
constexpr DWORD kSectionSize = kStages * sizeof(int64_t);

volatile LONGLONG* g_slots = nullptr;

void writeStamp(unsigned stage) {
    if (stage >= kStages || !g_slots) return;
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    // The first crossing counts: later ones (acknowledgements, the next frame) are other traffic.
    InterlockedCompareExchange64(&g_slots[stage], now.QuadPart, 0);
}

}  // namespace

bool attach() {
    if (g_slots) return true;
    HANDLE m = OpenFileMappingA(FILE_MAP_WRITE, FALSE, kSectionName);
    if (!m) return false;
    void* view = MapViewOfFile(m, FILE_MAP_WRITE, 0, 0, kSectionSize);
    // The view stays for the life of the process; the handle is not needed for it.
    CloseHandle(m);
    if (!view) return false;
    g_slots = static_cast<volatile LONGLONG*>(view);
    install(&writeStamp);
    return true;
}

Section::Section() {
    mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSectionSize, kSectionName);
    if (!mapping_) return;
    slots_ = static_cast<volatile int64_t*>(MapViewOfFile(mapping_, FILE_MAP_WRITE, 0, 0, kSectionSize));
    if (slots_) {
        clear();
        attach();
    }
}

Section::~Section() {
    install(nullptr);
    if (slots_) UnmapViewOfFile(const_cast<int64_t*>(slots_));
    if (mapping_) CloseHandle(mapping_);
}

void Section::clear() {
    for (unsigned i = 0; i < kStages; ++i) InterlockedExchange64(reinterpret_cast<volatile LONGLONG*>(&slots_[i]), 0);
}

int64_t Section::at(unsigned stage) const { return stage < kStages ? slots_[stage] : 0; }

}  // namespace stageclock
