#include "cardflash/inventory/driver_access.h"

#include <windows.h>

#include <mutex>

namespace drv {
namespace {

class Win32Driver : public DriverHandle {
public:
    explicit Win32Driver(HANDLE h) : h_(h) {}
    ~Win32Driver() override { CloseHandle(h_); }

    bool Control(uint32_t code, const void* in, uint32_t in_size, void* out, uint32_t out_size,
                 uint32_t* returned) override {
        DWORD got = 0;
        BOOL ok = DeviceIoControl(h_, code, const_cast<void*>(in), in_size, out, out_size, &got, nullptr);
        if (returned) *returned = ok ? got : 0;
        return ok != FALSE;
    }

private:
    HANDLE h_;
};

std::mutex g_lock;
DriverOpener g_opener;

}  // namespace

std::unique_ptr<DriverHandle> DriverAccess::Open(const OpenRequest& r, uint32_t* error) {
    DriverOpener opener;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        opener = g_opener;
    }
    if (opener) {
        uint32_t e = 0;
        std::unique_ptr<DriverHandle> h = opener(r, &e);
        if (error) *error = h ? 0 : e;
        return h;
    }
    HANDLE h = CreateFileA(r.path.c_str(), r.access, r.share, nullptr, r.disposition, r.attributes, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        if (error) *error = GetLastError();
        return nullptr;
    }
    if (error) *error = 0;
    return std::make_unique<Win32Driver>(h);
}

DriverOpener DriverAccess::SetOpener(DriverOpener opener) {
    std::lock_guard<std::mutex> hold(g_lock);
    std::swap(g_opener, opener);
    return opener;
}

}  // namespace drv
