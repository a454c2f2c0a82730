// The uninstall dialog: says what will be removed, and on Finish runs the removal engine and
// shows its stages; Cancel ends without removing anything.
#pragma once

#include "framework/dialog.h"
#include "framework/window_icons.h"
#include "remover/removal_engine.h"
#include "remover/uninstall_list.h"

class UninstallDlg : public fw::Dialog, private RemovalView {
public:
    explicit UninstallDlg(const UninstallList& list);

protected:
    bool OnInitDialog() override;
    bool OnCommand(int id, int code) override;
    INT_PTR OnMessage(UINT msg, WPARAM wparam, LPARAM lparam, bool* handled) override;

private:
    void RunUninstall();
    // RemovalView
    void ShowText(int id, const CString& text) override;
    void Pause(DWORD ms) override;
    int Ask(const CString& text, const CString& caption, UINT flags) override;

    const UninstallList& list_;
    fw::WindowIcons icons_;
    int system_code_ = 0;
    unsigned long platform_ = 0;
    bool running_ = false;
};
