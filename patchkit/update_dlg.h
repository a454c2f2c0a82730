// patchkit's main dialog: it cleans the maker's modem class entries while it is being made, and
// stays on the screen only when the command line asked for it (/NS).
#pragma once

#include "framework/dialog.h"
#include "framework/window_icons.h"

class UpdateDlg : public fw::Dialog {
public:
    explicit UpdateDlg(bool quiet);

protected:
    bool OnInitDialog() override;
    bool OnSysCommand(UINT command) override;
    INT_PTR OnMessage(UINT msg, WPARAM wparam, LPARAM lparam, bool* handled) override;

private:
    void SetIcons();

    bool quiet_;
    fw::WindowIcons icons_;
};

// The About box.
class UpdateAboutDlg : public fw::Dialog {
public:
    UpdateAboutDlg();
};
