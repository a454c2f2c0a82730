#include "winetest/ui.h"

#include <cstring>

namespace winetest {
namespace ui {
namespace {

constexpr int kMessageBoxTextId = 0xFFFF;

// SendMessage that gives up on a program that does not answer, so a hung program fails the test
// instead of hanging it.
LRESULT Send(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(hwnd, msg, wp, lp, SMTO_NORMAL, 5000, &result)) return 0;
    return static_cast<LRESULT>(result);
}

struct Search {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTopWindows(HWND hwnd, LPARAM param) {
    auto* s = reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == s->pid && IsWindowVisible(hwnd)) s->found.push_back(hwnd);
    return TRUE;
}

std::string ClassName(HWND hwnd) {
    char name[256] = {};
    GetClassNameA(hwnd, name, sizeof(name));
    return name;
}

template <typename Pred>
HWND Poll(DWORD timeout_ms, Pred pred) {
    DWORD start = GetTickCount();
    for (;;) {
        HWND h = pred();
        if (h) return h;
        if (GetTickCount() - start >= timeout_ms) return nullptr;
        Sleep(20);
    }
}

void Notify(HWND dialog, int id, WORD code) {
    Send(dialog, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

}  // namespace

std::vector<HWND> TopWindows(DWORD pid) {
    Search s{pid, {}};
    EnumWindows(CollectTopWindows, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

HWND WaitWindow(DWORD pid, const char* window_class, const char* caption, DWORD timeout_ms) {
    return Poll(timeout_ms, [&]() -> HWND {
        for (HWND h : TopWindows(pid)) {
            if (window_class && ClassName(h) != window_class) continue;
            if (caption && Text(h).find(caption) == std::string::npos) continue;
            return h;
        }
        return nullptr;
    });
}

HWND WaitDialog(DWORD pid, const char* caption, DWORD timeout_ms) {
    return WaitWindow(pid, "#32770", caption, timeout_ms);
}

bool IsMessageBox(HWND window) {
    return ClassName(window) == "#32770" && GetDlgItem(window, kMessageBoxTextId) != nullptr;
}

HWND WaitMessageBox(DWORD pid, DWORD timeout_ms) {
    return Poll(timeout_ms, [&]() -> HWND {
        for (HWND h : TopWindows(pid))
            if (IsMessageBox(h)) return h;
        return nullptr;
    });
}

std::string MessageBoxText(HWND box) { return ControlText(box, kMessageBoxTextId); }

bool WaitGone(HWND window, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    while (IsWindow(window) && IsWindowVisible(window)) {
        if (GetTickCount() - start >= timeout_ms) return false;
        Sleep(20);
    }
    return true;
}

bool WaitUntil(const std::function<bool()>& done, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeout_ms) return false;
        Sleep(20);
    }
    return true;
}

namespace {

// Texts are read with the wide messages and converted here: Wine hands the ANSI forms of some
// cross-process reads (CB_GETLBTEXT) back in UTF-16.
std::string Narrow(const std::wstring& w) {
    if (w.empty()) return "";
    int n = WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}

LRESULT SendW(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(hwnd, msg, wp, lp, SMTO_NORMAL, 5000, &result)) return 0;
    return static_cast<LRESULT>(result);
}

}  // namespace

std::string Text(HWND window) {
    if (!window) return "";
    LRESULT len = SendW(window, WM_GETTEXTLENGTH, 0, 0);
    if (len <= 0) return "";
    std::wstring s(static_cast<size_t>(len) + 1, L'\0');
    LRESULT got = SendW(window, WM_GETTEXT, s.size(), reinterpret_cast<LPARAM>(&s[0]));
    s.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return Narrow(s);
}

HWND Control(HWND dialog, int id) { return GetDlgItem(dialog, id); }
std::string ControlText(HWND dialog, int id) { return Text(GetDlgItem(dialog, id)); }
bool IsEnabled(HWND dialog, int id) { HWND c = GetDlgItem(dialog, id); return c && IsWindowEnabled(c); }
bool IsVisible(HWND dialog, int id) { HWND c = GetDlgItem(dialog, id); return c && IsWindowVisible(c); }

bool SetEditText(HWND dialog, int id, const std::string& text) {
    HWND c = GetDlgItem(dialog, id);
    if (!c) return false;
    Send(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    Notify(dialog, id, EN_CHANGE);
    return true;
}

std::vector<std::string> ComboItems(HWND dialog, int id) {
    std::vector<std::string> items;
    HWND c = GetDlgItem(dialog, id);
    if (!c) return items;
    LRESULT count = Send(c, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT len = SendW(c, CB_GETLBTEXTLEN, i, 0);
        if (len < 0) continue;
        std::wstring w(static_cast<size_t>(len) + 1, L'\0');
        LRESULT got = SendW(c, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(&w[0]));
        w.resize(got > 0 ? static_cast<size_t>(got) : 0);
        std::string s = Narrow(w);
        items.push_back(s);
    }
    return items;
}

int ComboSelection(HWND dialog, int id) {
    HWND c = GetDlgItem(dialog, id);
    return c ? static_cast<int>(Send(c, CB_GETCURSEL, 0, 0)) : CB_ERR;
}

bool SelectComboIndex(HWND dialog, int id, int index) {
    HWND c = GetDlgItem(dialog, id);
    if (!c || Send(c, CB_SETCURSEL, index, 0) == CB_ERR) return false;
    Notify(dialog, id, CBN_SELCHANGE);
    return true;
}

bool SelectComboText(HWND dialog, int id, const std::string& item) {
    std::vector<std::string> items = ComboItems(dialog, id);
    for (size_t i = 0; i < items.size(); ++i)
        if (items[i] == item) return SelectComboIndex(dialog, id, static_cast<int>(i));
    return false;
}

bool IsChecked(HWND dialog, int id) {
    HWND c = GetDlgItem(dialog, id);
    return c && Send(c, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool SetCheck(HWND dialog, int id, bool checked) {
    HWND c = GetDlgItem(dialog, id);
    if (!c) return false;
    Send(c, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    Notify(dialog, id, BN_CLICKED);
    return true;
}

bool ChooseRadio(HWND dialog, int id) {
    HWND c = GetDlgItem(dialog, id);
    if (!c) return false;
    // Walk the group the radio belongs to (from the WS_GROUP control before it to the next one).
    HWND first = c;
    while (!(GetWindowLongA(first, GWL_STYLE) & WS_GROUP)) {
        HWND prev = GetWindow(first, GW_HWNDPREV);
        if (!prev) break;
        first = prev;
    }
    for (HWND h = first; h; h = GetWindow(h, GW_HWNDNEXT)) {
        if (h != first && (GetWindowLongA(h, GWL_STYLE) & WS_GROUP)) break;
        if (h != c && ClassName(h) == "Button") Send(h, BM_SETCHECK, BST_UNCHECKED, 0);
    }
    Send(c, BM_SETCHECK, BST_CHECKED, 0);
    Notify(dialog, id, BN_CLICKED);
    return true;
}

bool Click(HWND dialog, int id) {
    if (!IsWindow(dialog)) return false;
    HWND c = GetDlgItem(dialog, id);
    return PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(c)) != 0;
}

}  // namespace ui
}  // namespace winetest
