#include <windows.h>

#include "framework/cstring.h"
#include "framework/resources.h"

namespace fw {
namespace {
HINSTANCE g_resources = nullptr;
}

HINSTANCE ResourceHandle() { return g_resources ? g_resources : GetModuleHandleA(nullptr); }
void SetResourceHandle(HINSTANCE module) { g_resources = module; }

HINSTANCE ResourceModuleFor(LPCSTR name, LPCSTR type) {
    HINSTANCE module = ResourceHandle();
    return FindResourceA(module, name, type) ? module : GetModuleHandleA(nullptr);
}

}  // namespace fw

namespace {

bool LoadTextFrom(HINSTANCE module, unsigned int id, CString* out) {
    // A string-table entry holds at most 65535 characters; ask with a growing buffer so a long
    // text is never cut.
    for (int size = 256; size <= 65536; size *= 4) {
        std::string buf(static_cast<size_t>(size), '\0');
        int n = ::LoadStringA(module, id, &buf[0], size);
        if (n <= 0) return false;
        if (n < size - 1) {
            buf.resize(static_cast<size_t>(n));
            *out = CString(buf);
            return true;
        }
    }
    return false;
}

}  // namespace

bool CString::LoadText(unsigned int id) {
    // A text that the language library lacks is the program's own.
    const HINSTANCE own = GetModuleHandleA(nullptr);
    const HINSTANCE module = fw::ResourceHandle();
    return LoadTextFrom(module, id, this) || (module != own && LoadTextFrom(own, id, this));
}
