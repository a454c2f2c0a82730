// The welcome dialog ("&Next >" leads on to the configuration) with the About entry in its
// system menu.
#pragma once

#include "framework/dialog.h"

class CWelcomeDialog : public fw::Dialog {
public:
    CWelcomeDialog();

protected:
    bool OnInitDialog() override;
    bool OnSysCommand(UINT command) override;
    INT_PTR OnMessage(UINT msg, WPARAM wparam, LPARAM lparam, bool* handled) override;

private:
    HICON icon_ = nullptr;
};
