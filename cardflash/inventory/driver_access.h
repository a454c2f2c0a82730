// The one road from cardflash to the maker's drivers: open a device by name, send it control
// requests, close it. The program goes through CreateFile and DeviceIoControl; tests put an
// opener of their own in place and answer from in-process stand-ins. No Windows header here, so
// the request builders that use it stay portable.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace drv {

// How a device is opened: the CreateFile arguments, exactly as the caller means them.
struct OpenRequest {
    std::string path;          // "\\.\Quenby.VXD", "\\.\pcmcia0", ...
    uint32_t access = 0;       // GENERIC_READ / GENERIC_WRITE bits, 0 for none
    uint32_t share = 0;        // FILE_SHARE_* bits
    uint32_t disposition = 0;  // OPEN_EXISTING, CREATE_NEW, or 0 as dynamic 9x drivers are opened
    uint32_t attributes = 0;   // FILE_ATTRIBUTE_* / FILE_FLAG_* bits
};

// An open device; closing is the destructor.
class DriverHandle {
public:
    DriverHandle() = default;
    virtual ~DriverHandle() = default;
    DriverHandle(const DriverHandle&) = delete;
    DriverHandle& operator=(const DriverHandle&) = delete;

    // One control request; `returned` (may be null) receives the byte count written to `out`.
    virtual bool Control(uint32_t code, const void* in, uint32_t in_size, void* out, uint32_t out_size,
                         uint32_t* returned) = 0;
};

using DriverOpener = std::function<std::unique_ptr<DriverHandle>(const OpenRequest&, uint32_t* error)>;

class DriverAccess {
public:
    // Null on failure, with the system error in `error` when given.
    static std::unique_ptr<DriverHandle> Open(const OpenRequest& request, uint32_t* error = nullptr);
    // Replaces the system road (tests); an empty opener restores it. Returns the previous one.
    static DriverOpener SetOpener(DriverOpener opener);
};

// Win32 values the requests are built from, spelled out so that no Windows header is needed.
namespace win {
constexpr uint32_t kGenericRead = 0x80000000u;
constexpr uint32_t kGenericWrite = 0x40000000u;
constexpr uint32_t kShareRead = 0x1u;
constexpr uint32_t kShareWrite = 0x2u;
constexpr uint32_t kCreateNew = 1;
constexpr uint32_t kOpenExisting = 3;
constexpr uint32_t kFlagDeleteOnClose = 0x04000000u;
constexpr uint32_t kErrorFileNotFound = 2;
}  // namespace win

}  // namespace drv
