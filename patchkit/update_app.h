// The patchkit application object: the Windows version, the per-version clean-up, then the main
// dialog.
#pragma once

#include "framework/app.h"

class UpdateApp : public fw::App {
protected:
    bool InitInstance() override;

private:
    // False (the program ends with -1) on a Windows that patchkit refuses.
    bool CheckSystemAndClean();

    bool quiet_ = true;
};
