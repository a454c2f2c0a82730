// The wait box that stands while the adapters and modems are detected: modeless, no buttons.
#pragma once

#include "framework/dialog.h"

class CPleaseWait : public fw::Dialog {
public:
    CPleaseWait();
    // Creates and shows the box and paints it at once: detection keeps the thread busy, so the
    // box would otherwise stay blank until it is gone.
    bool Show();
};
