#include "framework/app.h"

#include <commctrl.h>

#include <vector>

namespace fw {
namespace {
App* g_app = nullptr;
MessageBoxHandler g_message_box = nullptr;
}  // namespace

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    MessageBoxHandler previous = g_message_box;
    g_message_box = handler;
    return previous;
}

App::App() { g_app = this; }
App::~App() {
    if (g_app == this) g_app = nullptr;
}

App* App::Current() { return g_app; }

int App::Run(HINSTANCE instance, const char* command_line) {
    instance_ = instance;
    command_line_ = command_line ? command_line : "";

    // The program's path, asked with a buffer that grows until the whole path fits.
    std::vector<char> path(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            program_path_ = CString(path.data(), static_cast<int>(n));
            break;
        }
        if (path.size() >= 32768) break;
        path.resize(path.size() * 2);
    }
    int slash = program_path_.ReverseFind('\\');
    program_folder_ = slash >= 0 ? program_path_.Left(slash) : CString(".");
    title_ = program_path_.Mid(slash + 1);
    int dot = title_.ReverseFind('.');
    if (dot > 0) title_ = title_.Left(dot);

    if (InitInstance()) {
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return ExitInstance();
}

CString App::Text(UINT id) {
    CString s;
    s.LoadText(id);
    return s;
}

int App::Message(const char* text, UINT flags, const char* title) const {
    HWND owner = GetActiveWindow();
    const char* caption = title ? title : title_.c_str();
    if (g_message_box) return g_message_box(owner, text, caption, flags);
    return MessageBoxA(owner, text, caption, flags);
}

void InitControls() {
    INITCOMMONCONTROLSEX icc{};
    icc.dwSize = sizeof(icc);
    icc.dwICC = ICC_PROGRESS_CLASS | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES;
    InitCommonControlsEx(&icc);
}

WaitCursor::WaitCursor() : previous_(SetCursor(LoadCursor(nullptr, IDC_WAIT))) {}
WaitCursor::~WaitCursor() { SetCursor(previous_ ? previous_ : LoadCursor(nullptr, IDC_ARROW)); }

void BusyWait(DWORD ms) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) Sleep(1);
}

}  // namespace fw
