#include "cardflash/app/please_wait.h"

#include "cardflash/app/resource.h"

CPleaseWait::CPleaseWait() : fw::Dialog(IDD_PLEASE_WAIT) {}

bool CPleaseWait::Show() {
    if (!Create()) return false;
    fw::Repaint(hwnd());
    return true;
}
