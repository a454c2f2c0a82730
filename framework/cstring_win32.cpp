#include <windows.h>

#include "framework/cstring.h"
#include "framework/resources.h"

namespace fw {
namespace {
HINSTANCE g_resources = nullptr;
}

HINSTANCE ResourceHandle() { return g_resources ? g_resources : GetModuleHandleA(nullptr); }
void SetResourceHandle(HINSTANCE module) { g_resources = module; }

}  // namespace fw

bool CString::LoadText(unsigned int id) {
    // A string-table entry holds at most 65535 characters; ask with a growing buffer so a long
    // text is never cut.
    for (int size = 256; size <= 65536; size *= 4) {
        std::string buf(static_cast<size_t>(size), '\0');
        int n = ::LoadStringA(fw::ResourceHandle(), id, &buf[0], size);
        if (n <= 0) return false;
        if (n < size - 1) {
            buf.resize(static_cast<size_t>(n));
            *this = CString(buf);
            return true;
        }
    }
    return false;
}
