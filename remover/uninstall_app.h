// The remover application object: language library, platform check, the list's checks and the
// optional confirmation, then the uninstall dialog.
#pragma once

#include "framework/app.h"
#include "remover/uninstall_list.h"

class UninstallApp : public fw::App {
public:
    ~UninstallApp() override;

protected:
    bool InitInstance() override;

private:
    void LoadLanguageLibrary();
    // False (the program ends) when the list is not one that remover can follow.
    bool ValidateUninstallList();
    void Refuse(UINT text_id);

    UninstallList list_;
    HMODULE language_ = nullptr;
};
