// The configuration dialog: five location profiles kept in the settings file, the settings now
// on the adapter, and sending the shown profile to the adapter.
#pragma once

#include <memory>

#include "dialconf/isdn_modem.h"
#include "framework/dialog.h"

class CProgressDialog;

class CConfigDialog : public fw::Dialog {
public:
    CConfigDialog();
    ~CConfigDialog() override;

protected:
    bool OnInitDialog() override;
    bool OnCommand(int id, int code) override;

private:
    bool UsesMsn() const;  // the shown D-channel entry takes an MSN
    void ShowFields();
    void LoadProfile();
    void SaveProfile();
    void SendProfile();
    void ReadAdapterSettings();
    bool ValidateNumbers();
    std::unique_ptr<CProgressDialog> OpenProgress(UINT text_id);
    CString ProfileSection() const;

    fw::ComboList profile_, dchannel_, bchannel_;
    fw::ToolTips tips_;
    IsdnModem modem_;
};
