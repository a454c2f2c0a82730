// A program that faults on request, for the crash guard's tests: in a window procedure reached
// from another thread (where Wine catches the fault and goes on), in a timer procedure, in the C
// runtime called from a window procedure, and through memory the heap has freed; and the system's
// own probing of bad pointers, which must go on as before.
//   crashprobe window|timer|crt|freed|probe|child [RESULT-FILE]
// It exits 0 when it survived what it was asked to do.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

volatile int g_zero = 0;
// volatile: the compiler must not see through them (it refuses code it can prove faulty).
char* volatile g_bad = reinterpret_cast<char*>(8);
volatile size_t g_copyLength = 16;

struct Node {
    unsigned value;
    Node* next;
};

LRESULT CALLBACK ProbeProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_USER) {
        if (wparam == 1) {  // a header read through a pointer that is not one
            const volatile int* header = reinterpret_cast<const int*>(lparam);
            return *header;
        }
        char copy[64];  // the C runtime's memcpy, called by us with a bad source
        std::memcpy(copy, g_bad, g_copyLength);
        return copy[0];
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

VOID CALLBACK DivideTimer(HWND, UINT, UINT_PTR, DWORD) {
    volatile int n = 100 / g_zero;
    (void)n;
}

DWORD WINAPI Sender(LPVOID window) {
    HWND target = static_cast<HWND>(window);
    SendMessageA(target, WM_USER, reinterpret_cast<WPARAM>(GetPropA(target, "mode")), 8);
    return 0;
}

// Runs the message loop of a window whose procedure another thread calls.
int ThroughAnotherThread(WPARAM how) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = ProbeProc;
    wc.lpszClassName = "CrashProbe";
    RegisterClassA(&wc);
    HWND window = CreateWindowA("CrashProbe", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    SetPropA(window, "mode", reinterpret_cast<HANDLE>(how));
    HANDLE sender = CreateThread(nullptr, 0, Sender, window, 0, nullptr);
    MSG msg;
    while (MsgWaitForMultipleObjects(1, &sender, FALSE, 10000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1)
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    CloseHandle(sender);
    return 0;
}

int ThroughATimer() {
    SetTimer(nullptr, 0, 10, DivideTimer);
    MSG msg;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 2000;) {
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        else Sleep(5);
    }
    return 0;
}

void WriteResult(const char* file, const std::string& text) {
    if (!file) return;
    if (FILE* f = std::fopen(file, "w")) {
        std::fputs(text.c_str(), f);
        std::fclose(f);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    const char* result = argc > 2 ? argv[2] : nullptr;
    if (mode == "window") return ThroughAnotherThread(1);
    if (mode == "crt") return ThroughAnotherThread(2);
    if (mode == "timer") return ThroughATimer();
    if (mode == "freed") {
        // What a use after free reads: the heap's free pattern, then a fault through it.
        Node* node = new Node{0x12345678, nullptr};
        node->next = new Node{1, nullptr};
        Node* volatile kept = node;
        delete node->next;
        delete node;
        const volatile Node* stale = kept;
        char text[16];
        std::snprintf(text, sizeof(text), "%08x", stale->value);
        WriteResult(result, text);
        return static_cast<int>(stale->next->value);
    }
    if (mode == "probe") {
        // The system's probing faults on purpose and handles it: the process goes on.
        const bool bad = IsBadReadPtr(g_bad, 4) && IsBadWritePtr(g_bad, 4) && lstrlenA(g_bad) == 0;
        WriteResult(result, bad ? "probed" : "not probed");
        return bad ? 0 : 1;
    }
    if (mode == "child") {
        // A child that crashes in a window procedure while its parent, which started it, ends well.
        char self[MAX_PATH];
        GetModuleFileNameA(nullptr, self, MAX_PATH);
        std::string line = std::string("\"") + self + "\" window";
        STARTUPINFOA si{};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi{};
        if (!CreateProcessA(self, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 2;
        WaitForSingleObject(pi.hProcess, 20000);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        return 0;
    }
    std::fprintf(stderr, "usage: crashprobe window|timer|crt|freed|probe|child [RESULT-FILE]\n");
    return 3;
}
