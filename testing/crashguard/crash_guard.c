/* The crash guard of the test builds: a process ends at once when one of our modules faults.
 *
 * Wine (like 64-bit Windows) runs window, dialog and timer procedures and other callbacks through
 * a user-mode callback that catches every exception and goes on; Windows 9x ends the program
 * instead. A test would then pass over a fault it caused. Every executable and DLL of a test build
 * links this file: it puts a vectored handler first in line, which sees each exception before any
 * frame-based handler does, so before the system's catch.
 *
 * Which exceptions end the process: an access violation, in-page error, stack overflow, illegal or
 * privileged instruction, or integer division by zero or overflow, when the faulting instruction
 * lies in the image of the module that holds this copy of the guard (each module of ours has its
 * own copy and judges its own faults). Exceptions that code raises on purpose and handles itself
 * are left alone: the system's probing (IsBadReadPtr, lstrlen over a bad pointer) faults inside
 * the system's own modules, and none of our modules faults on purpose. A stack overflow is never
 * deliberate and ends the process wherever it happens. A fault inside the C runtime (memcpy with
 * a freed pointer) ends the process when the runtime's frames return straight into our module,
 * that is when our code made the call (a system function between them means the system's own
 * call, which may be deliberate).
 *
 * The process ends with the exception code as its exit code, after one line on standard error and,
 * when WINETEST_CRASH_LOG names a file, the same line appended to it (the harness fails the case
 * when that file is not empty, also for a program that a test started and did not watch).
 *
 * The handler may run on an overflowing stack or with the heap broken: it uses a small buffer on
 * the stack and no heap, no C runtime and no loader calls.
 */
#include <windows.h>

static ULONG_PTR guard_lo, guard_hi;      /* the image of this module */
static ULONG_PTR crt_lo, crt_hi;          /* the image of the C runtime our module imports */
static PVOID guard_handler;
static char guard_module_name[64];
static char guard_log[MAX_PATH];

static int image_range(HMODULE module, ULONG_PTR *lo, ULONG_PTR *hi)
{
    const IMAGE_DOS_HEADER *dos = (const IMAGE_DOS_HEADER *)module;
    const IMAGE_NT_HEADERS *nt;
    if (!module || dos->e_magic != IMAGE_DOS_SIGNATURE) return 0;
    nt = (const IMAGE_NT_HEADERS *)((const BYTE *)module + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) return 0;
    *lo = (ULONG_PTR)module;
    *hi = *lo + nt->OptionalHeader.SizeOfImage;
    return 1;
}

/* True when address lies in an executable section of our image: a return address into our code. */
static int in_our_code(ULONG_PTR address)
{
    const IMAGE_DOS_HEADER *dos = (const IMAGE_DOS_HEADER *)guard_lo;
    const IMAGE_NT_HEADERS *nt = (const IMAGE_NT_HEADERS *)(guard_lo + dos->e_lfanew);
    const IMAGE_SECTION_HEADER *section = IMAGE_FIRST_SECTION(nt);
    WORD i;
    if (address < guard_lo || address >= guard_hi) return 0;
    for (i = 0; i < nt->FileHeader.NumberOfSections; i++, section++) {
        ULONG_PTR start = guard_lo + section->VirtualAddress;
        if ((section->Characteristics & IMAGE_SCN_MEM_EXECUTE) && address >= start &&
            address < start + section->Misc.VirtualSize)
            return 1;
    }
    return 0;
}

/* Whether the C runtime function that faulted was called by our code: the first return address
 * outside the runtime, found by unwinding the runtime's own frames. On x86 that follows the frame
 * pointers (Wine builds its runtime with them); a chain that leaves the stack says no. On x64 the
 * unwind tables say where each frame returns. */
static int caller_is_ours(const CONTEXT *fault)
{
#if defined(_M_X64) || defined(__x86_64__)
    CONTEXT context = *fault;
    int i;
    for (i = 0; i < 16; i++) {
        DWORD64 base = 0;
        PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(context.Rip, &base, NULL);
        if (function) {
            PVOID handler_data;
            DWORD64 establisher;
            RtlVirtualUnwind(UNW_FLAG_NHANDLER, base, context.Rip, function, &context, &handler_data, &establisher,
                             NULL);
        } else { /* a leaf function: the return address is on top of the stack */
            context.Rip = *(const DWORD64 *)context.Rsp;
            context.Rsp += 8;
        }
        if (context.Rip < crt_lo || context.Rip >= crt_hi) return in_our_code(context.Rip);
    }
    return 0;
#else
    MEMORY_BASIC_INFORMATION stack;
    ULONG_PTR low = fault->Esp, high, frame = fault->Ebp;
    int i;
    /* The committed part of the stack runs from the fault's stack pointer up to the stack's base. */
    if (!VirtualQuery((const void *)low, &stack, sizeof(stack))) return 0;
    high = (ULONG_PTR)stack.BaseAddress + stack.RegionSize;
    for (i = 0; i < 16; i++) {
        ULONG_PTR returns;
        if (frame < low || frame > high - 2 * sizeof(ULONG_PTR) || (frame & 3)) return 0;
        returns = ((const ULONG_PTR *)frame)[1];
        if (returns < crt_lo || returns >= crt_hi) return in_our_code(returns);
        low = frame + 2 * sizeof(ULONG_PTR);
        frame = ((const ULONG_PTR *)frame)[0];
    }
    return 0;
#endif
}

static char *put_text(char *out, char *end, const char *text)
{
    while (*text && out < end) *out++ = *text++;
    return out;
}

static char *put_hex(char *out, char *end, ULONG_PTR value, int digits)
{
    static const char hex[] = "0123456789abcdef";
    int shift;
    out = put_text(out, end, "0x");
    for (shift = (digits - 1) * 4; shift >= 0 && out < end; shift -= 4) *out++ = hex[(value >> shift) & 15];
    return out;
}

static const char *exception_name(DWORD code)
{
    switch (code) {
    case EXCEPTION_ACCESS_VIOLATION: return "access violation";
    case EXCEPTION_IN_PAGE_ERROR: return "in-page error";
    case EXCEPTION_STACK_OVERFLOW: return "stack overflow";
    case EXCEPTION_ILLEGAL_INSTRUCTION: return "illegal instruction";
    case EXCEPTION_PRIV_INSTRUCTION: return "privileged instruction";
    case EXCEPTION_INT_DIVIDE_BY_ZERO: return "integer division by zero";
    case EXCEPTION_INT_OVERFLOW: return "integer overflow";
    default: return 0;
    }
}

static LONG CALLBACK guard_on_exception(EXCEPTION_POINTERS *pointers)
{
    const EXCEPTION_RECORD *record = pointers->ExceptionRecord;
    const char *name = exception_name(record->ExceptionCode);
    ULONG_PTR at = (ULONG_PTR)record->ExceptionAddress;
    char line[320], *out = line, *end = line + sizeof(line) - 2;
    DWORD written;
    HANDLE file;
    int ours;

    if (!name) return EXCEPTION_CONTINUE_SEARCH;
    ours = (at >= guard_lo && at < guard_hi) || record->ExceptionCode == EXCEPTION_STACK_OVERFLOW;
    if (!ours && at >= crt_lo && at < crt_hi) ours = caller_is_ours(pointers->ContextRecord);
    if (!ours) return EXCEPTION_CONTINUE_SEARCH;

    out = put_text(out, end, "crash guard: ");
    out = put_text(out, end, name);
    out = put_text(out, end, " (");
    out = put_hex(out, end, record->ExceptionCode, 8);
    out = put_text(out, end, ") at ");
    out = put_hex(out, end, at, sizeof(ULONG_PTR) * 2);
    if (at >= guard_lo && at < guard_hi) {
        out = put_text(out, end, " (");
        out = put_text(out, end, guard_module_name);
        out = put_text(out, end, "+");
        out = put_hex(out, end, at - guard_lo, 8);
        out = put_text(out, end, ")");
    } else if (at >= crt_lo && at < crt_hi) {
        out = put_text(out, end, " (in the C runtime, called from ");
        out = put_text(out, end, guard_module_name);
        out = put_text(out, end, ")");
    }
    if ((record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION || record->ExceptionCode == EXCEPTION_IN_PAGE_ERROR) &&
        record->NumberParameters >= 2) {
        ULONG_PTR how = record->ExceptionInformation[0];
        out = put_text(out, end, how == 0 ? ", reading " : how == 8 ? ", executing " : ", writing ");
        out = put_hex(out, end, record->ExceptionInformation[1], sizeof(ULONG_PTR) * 2);
    }
    out = put_text(out, end, "; the process ends\r\n");

    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, (DWORD)(out - line), &written, NULL);
    if (guard_log[0]) {
        file = CreateFileA(guard_log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE) {
            WriteFile(file, line, (DWORD)(out - line), &written, NULL);
            CloseHandle(file);
        }
    }
    TerminateProcess(GetCurrentProcess(), record->ExceptionCode);
    return EXCEPTION_CONTINUE_SEARCH;
}

static void __attribute__((constructor)) guard_install(void)
{
    HMODULE self = NULL, crt;
    char path[MAX_PATH];
    DWORD n, i, start = 0;

    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            (LPCSTR)&guard_lo, &self) ||
        !image_range(self, &guard_lo, &guard_hi))
        return;
    crt = GetModuleHandleA("msvcrt.dll");
    if (crt) image_range(crt, &crt_lo, &crt_hi);
    n = GetModuleFileNameA(self, path, sizeof(path));
    for (i = 0; i < n; i++)
        if (path[i] == '\\' || path[i] == '/') start = i + 1;
    for (i = 0; start + i < n && i < sizeof(guard_module_name) - 1; i++) guard_module_name[i] = path[start + i];
    guard_module_name[i] = 0;
    n = GetEnvironmentVariableA("WINETEST_CRASH_LOG", guard_log, sizeof(guard_log));
    if (n == 0 || n >= sizeof(guard_log)) guard_log[0] = 0;
    guard_handler = AddVectoredExceptionHandler(1, guard_on_exception);
}

/* A DLL of ours that is unloaded takes its handler with it. */
static void __attribute__((destructor)) guard_remove(void)
{
    if (guard_handler) RemoveVectoredExceptionHandler(guard_handler);
    guard_handler = NULL;
}
