// The progress dialog shown while the configuration dialog talks to the adapter (modeless).
#pragma once

#include "framework/dialog.h"

class CProgressDialog : public fw::Dialog {
public:
    explicit CProgressDialog(HWND parent);
    void SetText(const char* text);
    fw::ProgressBar& Bar() { return bar_; }
    void Show();  // paints what changed while the caller keeps the thread busy

protected:
    bool OnInitDialog() override;

private:
    fw::ProgressBar bar_;
};
