// Property sheets over the common controls' sheet: a sheet object with its pages, run modally,
// with handlers on the sheet window itself (its creation, its initialisation before it shows, and
// any other message: device changes, timers, the program's own messages), and pages that are
// dialogs of the framework.
//
// A sheet and its pages are objects that outlive their windows: make them, add the pages, then
// DoModal(). Only the first page exists when the sheet initialises; the others are made when the
// user first turns to them.
#pragma once

#include <windows.h>

#include <commctrl.h>
#include <prsht.h>

#include <vector>

// The system's header names its ANSI entry point through this macro, which would rename the
// class below; the entry point is called by its own name.
#undef PropertySheet

#include "framework/cstring.h"
#include "framework/dialog.h"

namespace fw {

class PropertySheet;

class PropertyPage : public Dialog {
public:
    // The page's title is the template's caption.
    explicit PropertyPage(UINT template_id) : Dialog(template_id) {}

    // The sheet window that holds the page (nullptr before the page's window exists).
    HWND SheetWindow() const { return hwnd() ? GetParent(hwnd()) : nullptr; }

protected:
    // Pages end nothing themselves: the sheet's buttons do.
    bool OnCommand(int /*id*/, int /*code*/) override { return false; }

private:
    friend class PropertySheet;
    static INT_PTR CALLBACK PageProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
};

class PropertySheet {
public:
    // `flags`: further PSH_ flags (PSH_NOAPPLYNOW, ...).
    PropertySheet(const CString& caption, DWORD flags = 0, HWND parent = nullptr);
    virtual ~PropertySheet();
    PropertySheet(const PropertySheet&) = delete;
    PropertySheet& operator=(const PropertySheet&) = delete;

    // In order; the first one added shows first. The page is not owned.
    void AddPage(PropertyPage* page);
    // Runs the sheet modally: what the sheet returned (IDOK, IDCANCEL, or -1 when it could not be
    // made).
    INT_PTR DoModal();

    HWND hwnd() const { return hwnd_; }
    int PageCount() const { return static_cast<int>(pages_.size()); }
    const CString& Caption() const { return caption_; }

protected:
    // WM_CREATE, after the sheet's own handling.
    virtual void OnCreate() {}
    // WM_INITDIALOG, after the sheet's own handling made the first page; the sheet is not yet shown.
    virtual void OnInitDialog() {}
    // Every other message of the sheet window before the sheet's own handling; set *handled to
    // answer it yourself (Default() runs the sheet's own handling).
    virtual LRESULT OnMessage(UINT msg, WPARAM wparam, LPARAM lparam, bool* handled);
    LRESULT Default(UINT msg, WPARAM wparam, LPARAM lparam);

private:
    static LRESULT CALLBACK CreationHook(int code, WPARAM wparam, LPARAM lparam);
    static LRESULT CALLBACK SheetProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
    void Subclass(HWND hwnd);

    CString caption_;
    DWORD flags_;
    HWND parent_;
    HWND hwnd_ = nullptr;
    WNDPROC sheet_proc_ = nullptr;
    std::vector<PropertyPage*> pages_;
};

}  // namespace fw
