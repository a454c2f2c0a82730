#include "framework/dialog.h"

#include <commctrl.h>

#include "framework/resources.h"

namespace fw {

Dialog::Dialog(UINT template_id, HWND parent) : template_id_(template_id), parent_(parent) {}

Dialog::~Dialog() {
    if (!modal_) Destroy();
}

INT_PTR Dialog::DoModal() {
    modal_ = true;
    HWND parent = parent_ ? parent_ : GetActiveWindow();
    INT_PTR r = DialogBoxParamA(ResourceModuleFor(MAKEINTRESOURCEA(template_id_), RT_DIALOG),
                                MAKEINTRESOURCEA(template_id_), parent, Proc,
                                reinterpret_cast<LPARAM>(this));
    hwnd_ = nullptr;
    return r;
}

bool Dialog::Create() {
    modal_ = false;
    HWND h = CreateDialogParamA(ResourceModuleFor(MAKEINTRESOURCEA(template_id_), RT_DIALOG),
                                MAKEINTRESOURCEA(template_id_), parent_, Proc,
                                reinterpret_cast<LPARAM>(this));
    if (!h) return false;
    ShowWindow(h, SW_SHOW);
    UpdateWindow(h);
    return true;
}

void Dialog::Destroy() {
    if (hwnd_ && !modal_) DestroyWindow(hwnd_);
}

void Dialog::End(INT_PTR result) {
    if (!hwnd_) return;
    if (modal_)
        EndDialog(hwnd_, result);
    else
        DestroyWindow(hwnd_);
}

CString Dialog::ItemText(int id) const {
    HWND item = Item(id);
    if (!item) return CString();
    int n = GetWindowTextLengthA(item);
    CString s;
    char* buf = s.GetBuffer(n + 1);
    GetWindowTextA(item, buf, n + 1);
    s.ReleaseBuffer();
    return s;
}

void Dialog::SetItemText(int id, const char* text) { SetDlgItemTextA(hwnd_, id, text); }

void Dialog::ShowItem(int id, bool show) {
    if (HWND item = Item(id)) ShowWindow(item, show ? SW_SHOW : SW_HIDE);
}

bool Dialog::IsChecked(int id) const { return IsDlgButtonChecked(hwnd_, id) == BST_CHECKED; }
void Dialog::SetChecked(int id, bool checked) { CheckDlgButton(hwnd_, id, checked ? BST_CHECKED : BST_UNCHECKED); }

bool Dialog::StartTimer(UINT_PTR id, UINT ms) { return SetTimer(hwnd_, id, ms, nullptr) != 0; }
void Dialog::StopTimer(UINT_PTR id) { KillTimer(hwnd_, id); }

void Dialog::AddSystemMenuEntry(UINT command, const char* text) {
    HMENU menu = GetSystemMenu(hwnd_, FALSE);
    if (!menu || !text || !*text) return;
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, command, text);
}

bool Dialog::OnCommand(int id, int /*code*/) {
    if (id == IDOK || id == IDCANCEL) {
        End(id);
        return true;
    }
    return false;
}

INT_PTR Dialog::OnMessage(UINT, WPARAM, LPARAM, bool* handled) {
    *handled = false;
    return 0;
}

INT_PTR CALLBACK Dialog::Proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    Dialog* self;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lparam);
        SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        self->hwnd_ = hwnd;
    } else {
        self = reinterpret_cast<Dialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    }
    if (!self) return FALSE;
    INT_PTR r = self->Handle(msg, wparam, lparam);
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrA(hwnd, DWLP_USER, 0);
        self->hwnd_ = nullptr;
    }
    return r;
}

INT_PTR Dialog::Handle(UINT msg, WPARAM wparam, LPARAM lparam) {
    switch (msg) {
    case WM_INITDIALOG:
        return OnInitDialog() ? TRUE : FALSE;
    case WM_COMMAND:
        return OnCommand(LOWORD(wparam), HIWORD(wparam)) ? TRUE : FALSE;
    case WM_TIMER:
        OnTimer(wparam);
        return TRUE;
    case WM_NOTIFY: {
        bool handled = false;
        LRESULT r = OnNotify(reinterpret_cast<NMHDR*>(lparam), &handled);
        if (!handled) return FALSE;
        SetWindowLongPtrA(hwnd_, DWLP_MSGRESULT, r);
        return TRUE;
    }
    case WM_SYSCOMMAND:
        if ((wparam & 0xFFF0) < 0xF000 && OnSysCommand(static_cast<UINT>(wparam & 0xFFF0))) return TRUE;
        return FALSE;
    default: {
        bool handled = false;
        INT_PTR r = OnMessage(msg, wparam, lparam, &handled);
        return handled ? r : FALSE;
    }
    }
}

void ComboList::Fill(const std::vector<const char*>& items) {
    SendMessageA(h_, CB_RESETCONTENT, 0, 0);
    for (const char* item : items) SendMessageA(h_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
}

int ComboList::Count() const { return static_cast<int>(SendMessageA(h_, CB_GETCOUNT, 0, 0)); }

int ComboList::Selection() const {
    LRESULT r = SendMessageA(h_, CB_GETCURSEL, 0, 0);
    return r == CB_ERR ? -1 : static_cast<int>(r);
}

void ComboList::Select(int index) { SendMessageA(h_, CB_SETCURSEL, static_cast<WPARAM>(index), 0); }

bool ComboList::SelectText(const char* text) {
    LRESULT i = SendMessageA(h_, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text));
    if (i == CB_ERR) return false;
    Select(static_cast<int>(i));
    return true;
}

CString ComboList::ItemText(int index) const {
    LRESULT n = SendMessageA(h_, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (n == CB_ERR || n < 0) return CString();
    CString s;
    char* buf = s.GetBuffer(static_cast<int>(n) + 1);
    LRESULT got = SendMessageA(h_, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buf));
    s.ReleaseBuffer(got == CB_ERR ? 0 : static_cast<int>(got));
    return s;
}

CString ComboList::Text() const {
    int i = Selection();
    return i < 0 ? CString() : ItemText(i);
}

void ComboList::Reset() { SendMessageA(h_, CB_RESETCONTENT, 0, 0); }

int ComboList::Add(const char* text, LPARAM data) {
    LRESULT i = SendMessageA(h_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    if (i == CB_ERR || i == CB_ERRSPACE) return -1;
    SendMessageA(h_, CB_SETITEMDATA, static_cast<WPARAM>(i), data);
    return static_cast<int>(i);
}

LPARAM ComboList::ItemData(int index) const { return SendMessageA(h_, CB_GETITEMDATA, static_cast<WPARAM>(index), 0); }

int ComboList::FindData(LPARAM data) const {
    for (int i = 0, n = Count(); i < n; ++i)
        if (ItemData(i) == data) return i;
    return -1;
}

void ListView::AddColumn(int index, const char* title, int width) {
    LVCOLUMNA col{};
    col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    col.pszText = const_cast<char*>(title);
    col.cx = width;
    col.iSubItem = index;
    SendMessageA(h_, LVM_INSERTCOLUMNA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&col));
}

int ListView::Add(const char* text) {
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.iItem = Count();
    item.pszText = const_cast<char*>(text);
    return static_cast<int>(SendMessageA(h_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
}

void ListView::SetText(int index, int column, const char* text) {
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = const_cast<char*>(text);
    SendMessageA(h_, LVM_SETITEMTEXTA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
}

CString ListView::Text(int index, int column) const {
    // The text may be longer than any one buffer: grow until it fits.
    for (int size = 256; size <= 65536; size *= 4) {
        CString s;
        char* buf = s.GetBuffer(size);
        LVITEMA item{};
        item.iSubItem = column;
        item.pszText = buf;
        item.cchTextMax = size;
        LRESULT n = SendMessageA(h_, LVM_GETITEMTEXTA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
        s.ReleaseBuffer(n < 0 ? 0 : static_cast<int>(n));
        if (n < size - 1) return s;
    }
    return CString();
}

int ListView::Count() const { return static_cast<int>(SendMessageA(h_, LVM_GETITEMCOUNT, 0, 0)); }
void ListView::Clear() { SendMessageA(h_, LVM_DELETEALLITEMS, 0, 0); }

int ListView::FirstSelected() const {
    return static_cast<int>(SendMessageA(h_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void ListView::SelectAndFocus(int index) {
    LVITEMA item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(h_, LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    SendMessageA(h_, LVM_ENSUREVISIBLE, static_cast<WPARAM>(index), FALSE);
}

FileOpenDialog::FileOpenDialog(const char* filter, const char* title, DWORD flags, HWND owner)
    : filter_(filter ? filter : ""), title_(title ? title : ""), flags_(flags), owner_(owner) {}

bool FileOpenDialog::DoModal(const char* initialFolder) {
    // The filter's '|' separators become the NULs the system expects; it ends with two.
    std::vector<char> filter(filter_.c_str(), filter_.c_str() + filter_.GetLength());
    for (char& c : filter)
        if (c == '|') c = '\0';
    filter.push_back('\0');
    filter.push_back('\0');
    std::vector<char> file(MAX_PATH * 4, '\0');
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = owner_;
    ofn.lpstrFilter = filter.data();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrInitialDir = initialFolder && *initialFolder ? initialFolder : nullptr;
    ofn.lpstrTitle = title_.IsEmpty() ? nullptr : title_.c_str();
    ofn.Flags = flags_ | OFN_EXPLORER;
    if (!GetOpenFileNameA(&ofn)) return false;
    path_ = file.data();
    return true;
}

void ProgressBar::SetRange(int low, int high) { SendMessageA(h_, PBM_SETRANGE32, static_cast<WPARAM>(low), high); }
void ProgressBar::SetStep(int step) { SendMessageA(h_, PBM_SETSTEP, static_cast<WPARAM>(step), 0); }
void ProgressBar::SetPos(int pos) { SendMessageA(h_, PBM_SETPOS, static_cast<WPARAM>(pos), 0); }
void ProgressBar::Step() { SendMessageA(h_, PBM_STEPIT, 0, 0); }
int ProgressBar::Pos() const { return static_cast<int>(SendMessageA(h_, PBM_GETPOS, 0, 0)); }

ToolTips::~ToolTips() {
    if (h_ && IsWindow(h_)) DestroyWindow(h_);
}

bool ToolTips::Create(HWND dialog) {
    dialog_ = dialog;
    h_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                         CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, dialog, nullptr, GetModuleHandleA(nullptr),
                         nullptr);
    if (!h_) return false;
    SendMessageA(h_, TTM_SETMAXTIPWIDTH, 0, 300);
    return true;
}

bool ToolTips::Add(HWND control, const char* text) {
    if (!h_ || !control) return false;
    texts_.emplace_back(text);
    TOOLINFOA ti{};
    ti.cbSize = sizeof(ti);
    ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    ti.hwnd = dialog_;
    ti.uId = reinterpret_cast<UINT_PTR>(control);
    ti.lpszText = const_cast<char*>(texts_.back().c_str());
    // The tooltip keeps its own copy of the text, so the vector may move its strings later.
    return SendMessageA(h_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti)) != 0;
}

CString ToolTips::TextOf(HWND control) const {
    if (!h_) return CString();
    char buf[1024] = {0};
    TOOLINFOA ti{};
    ti.cbSize = sizeof(ti);
    ti.hwnd = dialog_;
    ti.uId = reinterpret_cast<UINT_PTR>(control);
    ti.lpszText = buf;
    SendMessageA(h_, TTM_GETTEXTA, sizeof(buf), reinterpret_cast<LPARAM>(&ti));
    return CString(buf);
}

void Repaint(HWND window) {
    if (window) {
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    }
}

}  // namespace fw
