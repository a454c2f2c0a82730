// UI driver for tests: finds the windows and dialogs of another process (message boxes included),
// reads their texts, sets controls and presses buttons, and waits with a time-out.
//
// Controls are set with SendMessage (the texts cross the process boundary), and the owning dialog
// is told with the notification a user's action would send (EN_CHANGE, CBN_SELCHANGE,
// BN_CLICKED). Buttons are pressed with PostMessage, so a program whose UI thread busy-waits in
// its handler cannot stall the test.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace winetest {
namespace ui {

constexpr DWORD kDefaultTimeout = 10000;

// Visible top-level windows of the process, in Z order.
std::vector<HWND> TopWindows(DWORD pid);

// A visible top-level window of the process whose class is `window_class` (nullptr: any) and whose
// caption contains `caption` (nullptr: any); nullptr when none appears within the time-out.
HWND WaitWindow(DWORD pid, const char* window_class, const char* caption, DWORD timeout_ms = kDefaultTimeout);

// A dialog (class "#32770"); message boxes are dialogs too.
HWND WaitDialog(DWORD pid, const char* caption = nullptr, DWORD timeout_ms = kDefaultTimeout);

// A message box: a dialog with the static text control 0xFFFF.
HWND WaitMessageBox(DWORD pid, DWORD timeout_ms = kDefaultTimeout);
bool IsMessageBox(HWND window);
std::string MessageBoxText(HWND box);

// True when the window is gone (or hidden) within the time-out.
bool WaitGone(HWND window, DWORD timeout_ms = kDefaultTimeout);

// True when `done` holds within the time-out; it is asked every 20 ms.
bool WaitUntil(const std::function<bool()>& done, DWORD timeout_ms = kDefaultTimeout);

std::string Text(HWND window);
std::string ControlText(HWND dialog, int id);
HWND Control(HWND dialog, int id);
bool IsEnabled(HWND dialog, int id);
bool IsVisible(HWND dialog, int id);

// Edit control: new text, then EN_CHANGE to the dialog.
bool SetEditText(HWND dialog, int id, const std::string& text);

// Drop-down list / combo box.
std::vector<std::string> ComboItems(HWND dialog, int id);
int ComboSelection(HWND dialog, int id);                          // CB_ERR when none
bool SelectComboIndex(HWND dialog, int id, int index);            // then CBN_SELCHANGE
bool SelectComboText(HWND dialog, int id, const std::string& item);  // exact item text

// Check boxes and radio buttons.
bool IsChecked(HWND dialog, int id);
bool SetCheck(HWND dialog, int id, bool checked);  // then BN_CLICKED
// A radio button as a click would choose it: checked, the others of its group unchecked.
bool ChooseRadio(HWND dialog, int id);

// Presses a button (or answers a message box: IDOK, IDCANCEL, IDYES, IDNO, ...).
bool Click(HWND dialog, int id);

}  // namespace ui
}  // namespace winetest
