// The About page: the program's name, product version and copyright line from its own version
// resource, and the version of the device database.
#pragma once

#include "framework/property_sheet.h"

class CAboutDlg : public fw::PropertyPage {
public:
    CAboutDlg();

protected:
    bool OnInitDialog() override;
};
