#include "framework/property_sheet.h"

#include "framework/resources.h"

namespace fw {
namespace {

const char kSheetProperty[] = "fw.PropertySheet";

// The sheet being made on this thread and the hook that catches its window.
thread_local PropertySheet* t_creating = nullptr;
thread_local HHOOK t_hook = nullptr;

}  // namespace

INT_PTR CALLBACK PropertyPage::PageProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    PropertyPage* self;
    if (msg == WM_INITDIALOG) {
        const PROPSHEETPAGEA* psp = reinterpret_cast<const PROPSHEETPAGEA*>(lparam);
        self = reinterpret_cast<PropertyPage*>(psp->lParam);
        SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        self->BindWindow(hwnd);
    } else {
        self = reinterpret_cast<PropertyPage*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    }
    if (!self) return FALSE;
    INT_PTR r = self->Handle(msg, wparam, lparam);
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrA(hwnd, DWLP_USER, 0);
        self->BindWindow(nullptr);
    }
    return r;
}

PropertySheet::PropertySheet(const CString& caption, DWORD flags, HWND parent)
    : caption_(caption), flags_(flags), parent_(parent) {}

PropertySheet::~PropertySheet() = default;

void PropertySheet::AddPage(PropertyPage* page) {
    if (page) pages_.push_back(page);
}

INT_PTR PropertySheet::DoModal() {
    std::vector<PROPSHEETPAGEA> pages(pages_.size());
    for (size_t i = 0; i < pages_.size(); ++i) {
        PROPSHEETPAGEA& p = pages[i];
        p.dwSize = sizeof(p);
        p.dwFlags = PSP_DEFAULT;
        // A language library without this page's template leaves the program's own in use.
        p.hInstance = ResourceModuleFor(MAKEINTRESOURCEA(pages_[i]->TemplateId()), RT_DIALOG);
        p.pszTemplate = MAKEINTRESOURCEA(pages_[i]->TemplateId());
        p.pfnDlgProc = &PropertyPage::PageProc;
        p.lParam = reinterpret_cast<LPARAM>(pages_[i]);
    }
    PROPSHEETHEADERA header{};
    header.dwSize = sizeof(header);
    header.dwFlags = PSH_PROPSHEETPAGE | flags_;
    header.hwndParent = parent_;
    header.hInstance = ResourceHandle();
    header.pszCaption = caption_.c_str();
    header.nPages = static_cast<UINT>(pages.size());
    header.ppsp = pages.data();

    // The sheet window is caught as it is made, so that its own creation and initialisation reach
    // the handlers too.
    PropertySheet* outer = t_creating;
    HHOOK outer_hook = t_hook;
    t_creating = this;
    t_hook = SetWindowsHookExA(WH_CBT, &PropertySheet::CreationHook, nullptr, GetCurrentThreadId());
    INT_PTR r = ::PropertySheetA(&header);
    if (t_hook) UnhookWindowsHookEx(t_hook);
    t_creating = outer;
    t_hook = outer_hook;
    hwnd_ = nullptr;
    return r;
}

LRESULT CALLBACK PropertySheet::CreationHook(int code, WPARAM wparam, LPARAM lparam) {
    if (code == HCBT_CREATEWND && t_creating) {
        const CREATESTRUCTA* cs = reinterpret_cast<CBT_CREATEWNDA*>(lparam)->lpcs;
        // The sheet is the first top-level dialog made: its pages and controls are its children.
        const bool dialog = IS_INTRESOURCE(cs->lpszClass) ? LOWORD(reinterpret_cast<ULONG_PTR>(cs->lpszClass)) == 32770
                                                         : lstrcmpiA(cs->lpszClass, "#32770") == 0;
        if (dialog && !(cs->style & WS_CHILD)) {
            PropertySheet* sheet = t_creating;
            t_creating = nullptr;
            sheet->Subclass(reinterpret_cast<HWND>(wparam));
            HHOOK hook = t_hook;
            t_hook = nullptr;
            LRESULT r = CallNextHookEx(hook, code, wparam, lparam);
            UnhookWindowsHookEx(hook);
            return r;
        }
    }
    return CallNextHookEx(t_hook, code, wparam, lparam);
}

void PropertySheet::Subclass(HWND hwnd) {
    hwnd_ = hwnd;
    SetPropA(hwnd, kSheetProperty, reinterpret_cast<HANDLE>(this));
    sheet_proc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&PropertySheet::SheetProc)));
}

LRESULT PropertySheet::Default(UINT msg, WPARAM wparam, LPARAM lparam) {
    return CallWindowProcA(sheet_proc_, hwnd_, msg, wparam, lparam);
}

LRESULT PropertySheet::OnMessage(UINT, WPARAM, LPARAM, bool* handled) {
    *handled = false;
    return 0;
}

LRESULT CALLBACK PropertySheet::SheetProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    PropertySheet* self = reinterpret_cast<PropertySheet*>(GetPropA(hwnd, kSheetProperty));
    if (!self) return DefWindowProcA(hwnd, msg, wparam, lparam);
    switch (msg) {
    case WM_CREATE: {
        LRESULT r = self->Default(msg, wparam, lparam);
        if (r != -1) self->OnCreate();
        return r;
    }
    case WM_INITDIALOG: {
        LRESULT r = self->Default(msg, wparam, lparam);
        self->OnInitDialog();
        return r;
    }
    case WM_NCDESTROY: {
        WNDPROC proc = self->sheet_proc_;
        SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc));
        RemovePropA(hwnd, kSheetProperty);
        self->hwnd_ = nullptr;
        return CallWindowProcA(proc, hwnd, msg, wparam, lparam);
    }
    default: {
        bool handled = false;
        LRESULT r = self->OnMessage(msg, wparam, lparam, &handled);
        return handled ? r : self->Default(msg, wparam, lparam);
    }
    }
}

}  // namespace fw
