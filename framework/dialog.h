// Dialogs from .rc templates, modal or modeless, with handlers for initialisation, commands and
// timers, and the small control wrappers the dialog programs use.
//
// A dialog object outlives its window: it is made first, then DoModal() or Create() makes the
// window from the template in the resource module (fw::ResourceHandle()), or in the program
// itself when that module has no such template. Property pages
// (property_sheet.h) derive from the same base and are made by their sheet.
#pragma once

#include <windows.h>

#include <vector>

#include "framework/cstring.h"

namespace fw {

class Dialog {
public:
    explicit Dialog(UINT template_id, HWND parent = nullptr);
    virtual ~Dialog();  // destroys a modeless window still open
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Runs the dialog modally; returns what End() was given, or -1 when the window could not be
    // made.
    INT_PTR DoModal();
    // Makes and shows the dialog modelessly; false when the window could not be made.
    bool Create();
    void Destroy();

    // Ends the dialog: a modal one returns `result` from DoModal, a modeless one is destroyed.
    void End(INT_PTR result);

    HWND hwnd() const { return hwnd_; }
    HWND Item(int id) const { return GetDlgItem(hwnd_, id); }
    UINT TemplateId() const { return template_id_; }

    CString ItemText(int id) const;
    void SetItemText(int id, const char* text);
    void ShowItem(int id, bool show);
    bool IsChecked(int id) const;
    void SetChecked(int id, bool checked);

    bool StartTimer(UINT_PTR id, UINT ms);
    void StopTimer(UINT_PTR id);

    // Appends a separator and `text` with `command` to the window's system menu; choosing it
    // calls OnSysCommand with that command (commands below 0xF000 are the program's own).
    void AddSystemMenuEntry(UINT command, const char* text);

protected:
    // Called once the window and its controls exist; return true to let the system set the focus.
    virtual bool OnInitDialog() { return true; }
    // WM_COMMAND from a control or menu; the default ends the dialog on IDOK and IDCANCEL.
    // Return true when handled.
    virtual bool OnCommand(int id, int code);
    virtual void OnTimer(UINT_PTR /*id*/) {}
    // An own system-menu command (below 0xF000); return true when handled.
    virtual bool OnSysCommand(UINT /*command*/) { return false; }
    // Any other message; set *handled and return the dialog procedure's result.
    virtual INT_PTR OnMessage(UINT msg, WPARAM wparam, LPARAM lparam, bool* handled);

    // WM_NOTIFY from a control (or, for a property page, from its sheet); set *handled and return
    // the result the sender reads.
    virtual LRESULT OnNotify(NMHDR* /*header*/, bool* handled) {
        *handled = false;
        return 0;
    }

    // For windows made elsewhere (property pages): binds the window and dispatches its messages.
    void BindWindow(HWND hwnd) { hwnd_ = hwnd; }
    INT_PTR Handle(UINT msg, WPARAM wparam, LPARAM lparam);

private:
    static INT_PTR CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);

    UINT template_id_;
    HWND parent_;
    HWND hwnd_ = nullptr;
    bool modal_ = false;
};

// A drop-down list (a combo box of the CBS_DROPDOWNLIST kind).
class ComboList {
public:
    ComboList() = default;
    explicit ComboList(HWND control) : h_(control) {}
    void Attach(HWND control) { h_ = control; }

    void Fill(const std::vector<const char*>& items);
    int Count() const;
    int Selection() const;                      // -1 when none
    void Select(int index);                     // -1 clears the selection
    bool SelectText(const char* text);          // exact item text; false when absent
    CString Text() const;                       // the selected item's text, "" when none
    CString ItemText(int index) const;
    void Reset();
    // Appends a line that carries `data`; its index.
    int Add(const char* text, LPARAM data = 0);
    LPARAM ItemData(int index) const;           // CB_ERR when there is no such line
    // The first line that carries `data`; -1 when none.
    int FindData(LPARAM data) const;

private:
    HWND h_ = nullptr;
};

// A report-view list (SysListView32 with LVS_REPORT).
class ListView {
public:
    ListView() = default;
    explicit ListView(HWND control) : h_(control) {}
    void Attach(HWND control) { h_ = control; }

    void AddColumn(int index, const char* title, int width);
    // Appends an item with `text` in column 0; its index, -1 on failure.
    int Add(const char* text);
    void SetText(int item, int column, const char* text);
    CString Text(int item, int column) const;
    int Count() const;
    void Clear();
    int FirstSelected() const;  // -1 when nothing is selected
    // Selects and focuses `item` (and shows it).
    void SelectAndFocus(int item);

private:
    HWND h_ = nullptr;
};

// The file-open dialog. `filter` is in the form "Name|*.x|Other|*.*||".
class FileOpenDialog {
public:
    FileOpenDialog(const char* filter, const char* title, DWORD flags, HWND owner);
    // True when the user chose a file; PathName() then holds it.
    bool DoModal(const char* initialFolder = nullptr);
    const CString& PathName() const { return path_; }

private:
    CString filter_, title_, path_;
    DWORD flags_;
    HWND owner_;
};

// A progress bar.
class ProgressBar {
public:
    ProgressBar() = default;
    explicit ProgressBar(HWND control) : h_(control) {}
    void Attach(HWND control) { h_ = control; }

    void SetRange(int low, int high);
    void SetStep(int step);
    void SetPos(int pos);
    void Step();
    int Pos() const;

private:
    HWND h_ = nullptr;
};

// Tooltips of one dialog: each is attached to its control's window and subclasses it, so the
// control's own mouse messages show the tip.
class ToolTips {
public:
    ToolTips() = default;
    ~ToolTips();
    ToolTips(const ToolTips&) = delete;
    ToolTips& operator=(const ToolTips&) = delete;

    bool Create(HWND dialog);
    bool Add(HWND control, const char* text);
    CString TextOf(HWND control) const;  // "" when the control has no tip
    HWND hwnd() const { return h_; }

private:
    HWND dialog_ = nullptr;
    HWND h_ = nullptr;
    std::vector<CString> texts_;  // what each Add was given, in order
};

// Shows pending paint of a window while the user-interface thread is busy.
void Repaint(HWND window);

}  // namespace fw
