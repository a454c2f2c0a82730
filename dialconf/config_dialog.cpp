#include "dialconf/config_dialog.h"

#include <new>

#include "dialconf/adapter_replies.h"
#include "dialconf/config_rules.h"
#include "dialconf/dialconf_app.h"
#include "dialconf/progress_dialog.h"
#include "dialconf/resource.h"

namespace {

CString Text(UINT id) { return fw::App::Text(id); }

CString ReadValue(const CString& file, const CString& section, const char* key, const char* fallback) {
    char value[100];
    GetPrivateProfileStringA(section, key, fallback, value, sizeof(value), file);
    return value;
}

void WriteValue(const CString& file, const CString& section, const char* key, const CString& value) {
    WritePrivateProfileStringA(section, key, value, file);
}

}  // namespace

CConfigDialog::CConfigDialog() : fw::Dialog(IDD_CONFIG) {}
CConfigDialog::~CConfigDialog() = default;

bool CConfigDialog::OnInitDialog() {
    profile_.Attach(Item(IDC_PROFILE));
    dchannel_.Attach(Item(IDC_DCHANNEL));
    bchannel_.Attach(Item(IDC_BCHANNEL));
    profile_.Fill({std::begin(kProfileNames), std::end(kProfileNames)});
    dchannel_.Fill({std::begin(kDChannelNames), std::end(kDChannelNames)});
    bchannel_.Fill({std::begin(kBChannelNames), std::end(kBChannelNames)});

    static const struct {
        int control;
        UINT text;
    } kTips[] = {
        {IDC_SEND, IDS_TIP_SEND}, {IDC_SAVE, IDS_TIP_SAVE}, {IDC_PROFILE, IDS_TIP_PROFILE},
        {IDC_BCHANNEL, IDS_TIP_BCHANNEL}, {IDC_DCHANNEL, IDS_TIP_DCHANNEL}, {IDC_MSN, IDS_TIP_MSN},
        {IDC_PHONE, IDS_TIP_PHONE}, {IDC_SPID1, IDS_TIP_SPID}, {IDC_SPID2, IDS_TIP_SPID},
        {IDC_MULTIPOINT, IDS_TIP_MULTIPOINT}, {IDC_POINT2POINT, IDS_TIP_POINT2POINT},
    };
    if (tips_.Create(hwnd()))
        for (const auto& t : kTips) tips_.Add(Item(t.control), Text(t.text));

    profile_.SelectText("Office");
    dchannel_.SelectText(kDss1);
    bchannel_.SelectText("HDLC-PPP");
    SetItemText(IDC_MSN, "*");
    SetItemText(IDC_PHONE, "*");
    CheckRadioButton(hwnd(), IDC_POINT2POINT, IDC_MULTIPOINT, IDC_MULTIPOINT);
    ShowFields();
    LoadProfile();

    CDialconfApp* app = CDialconfApp::Get();
    char port[25];
    GetPrivateProfileStringA("COM PORT", "PORT", "NONE", port, sizeof(port), app->SettingsFile());
    if (lstrcmpA(port, "NONE") == 0) {
        app->MessageId(IDS_NO_PORT);
        app->SetExitCode(-1);
        End(IDABORT);
        return true;
    }
    modem_.Init(port, "fake pnp");
    ReadAdapterSettings();
    return true;
}

bool CConfigDialog::OnCommand(int id, int code) {
    switch (id) {
    case IDC_PROFILE:
        if (code == CBN_SELCHANGE) LoadProfile();
        return true;
    case IDC_DCHANNEL:
        if (code == CBN_SELCHANGE) ShowFields();
        return true;
    case IDC_SAVE:
        if (code == BN_CLICKED) SaveProfile();
        return true;
    case IDC_SEND:
        if (code == BN_CLICKED) SendProfile();
        return true;
    default:
        return fw::Dialog::OnCommand(id, code);
    }
}

bool CConfigDialog::UsesMsn() const { return SwitchTypeUsesMsn(SwitchTypeFromName(dchannel_.Text())); }

void CConfigDialog::ShowFields() {
    const bool msn = UsesMsn();
    for (int id : {IDC_MSN, IDC_MSN_LABEL, IDC_MSN_GROUP}) ShowItem(id, msn);
    for (int id : {IDC_PHONE, IDC_PHONE_LABEL, IDC_SPID1, IDC_SPID1_LABEL, IDC_SPID2, IDC_SPID2_LABEL, IDC_US_GROUP})
        ShowItem(id, !msn);
}

CString CConfigDialog::ProfileSection() const {
    int i = profile_.Selection();
    return i >= 0 && i < 5 ? CString(kProfileNames[i]) : profile_.Text();
}

void CConfigDialog::LoadProfile() {
    const CString& file = CDialconfApp::Get()->SettingsFile();
    const CString section = ProfileSection();
    if (section.IsEmpty()) return;

    CString dchannel = DChannelNameOfStored(ReadValue(file, section, "SwitchType", ""));
    if (dchannel.IsEmpty() || !dchannel_.SelectText(dchannel)) dchannel_.Select(-1);
    if (UsesMsn()) {
        SetItemText(IDC_PHONE, "*");
        SetItemText(IDC_SPID1, "");
        SetItemText(IDC_SPID2, "");
        SetItemText(IDC_MSN, ReadValue(file, section, "Msn", "*"));
    } else {
        SetItemText(IDC_MSN, "*");
        SetItemText(IDC_PHONE, ReadValue(file, section, "Phone1", "*"));
        SetItemText(IDC_SPID1, ReadValue(file, section, "Spid1", ""));
        SetItemText(IDC_SPID2, ReadValue(file, section, "Spid2", ""));
    }
    ShowFields();
    bool point = ReadValue(file, section, "Connection", "") == "Point";
    CheckRadioButton(hwnd(), IDC_POINT2POINT, IDC_MULTIPOINT, point ? IDC_POINT2POINT : IDC_MULTIPOINT);
    CString protocol = ReadValue(file, section, "Protocol", "");
    if (protocol.IsEmpty()) protocol = "HDLC-PPP";
    bchannel_.SelectText(protocol);
}

bool CConfigDialog::ValidateNumbers() {
    fw::App* app = fw::App::Current();
    bool numbers_ok = true, spids_ok = true;
    if (UsesMsn()) {
        if (!IsValidNumber(ItemText(IDC_MSN))) {
            app->Message("MSN" + Text(IDS_BAD_NUMBER));
            numbers_ok = false;
        }
    } else {
        if (!IsValidNumber(ItemText(IDC_PHONE))) {
            app->Message("Phone number" + Text(IDS_BAD_NUMBER));
            numbers_ok = false;
        }
        if (!IsValidSpid(ItemText(IDC_SPID1), false) || !IsValidSpid(ItemText(IDC_SPID2), true)) {
            app->MessageId(IDS_BAD_SPID);
            spids_ok = false;
        }
    }
    return numbers_ok && spids_ok && ProtocolFromName(bchannel_.Text()) != -1;
}

void CConfigDialog::SaveProfile() {
    const CString& file = CDialconfApp::Get()->SettingsFile();
    const CString section = ProfileSection();
    CString type;
    type.Format("%d", SwitchTypeFromName(dchannel_.Text()));
    WriteValue(file, section, "SwitchType", type);
    if (!ValidateNumbers()) return;
    if (UsesMsn()) {
        WriteValue(file, section, "Msn", ItemText(IDC_MSN));
    } else {
        WriteValue(file, section, "Phone1", ItemText(IDC_PHONE));
        WriteValue(file, section, "Spid1", ItemText(IDC_SPID1));
        WriteValue(file, section, "Spid2", ItemText(IDC_SPID2));
    }
    WriteValue(file, section, "Connection", IsChecked(IDC_MULTIPOINT) ? "Multi" : "Point");
    WriteValue(file, section, "Protocol", bchannel_.Text());
}

std::unique_ptr<CProgressDialog> CConfigDialog::OpenProgress(UINT text_id) {
    std::unique_ptr<CProgressDialog> progress(new (std::nothrow) CProgressDialog(hwnd()));
    if (!progress) {
        fw::App::Current()->MessageId(IDS_DIALOG_NEW_FAILED);
        return nullptr;
    }
    if (!progress->Create()) {
        fw::App::Current()->MessageId(IDS_DIALOG_OPEN_FAILED);
        return nullptr;
    }
    progress->SetText(Text(text_id));
    return progress;
}

void CConfigDialog::ReadAdapterSettings() {
    std::unique_ptr<CProgressDialog> progress = OpenProgress(IDS_RETRIEVING);
    if (!progress) return;
    fw::WaitCursor wait;

    CString text, protocol;
    if (modem_.GetProtocol(&protocol))
        text = "B-Channel Protocol: " + protocol;
    else
        text = Text(IDS_NO_PROTOCOL);

    int type = modem_.GetSwitchType();
    CString dchannel = DChannelNameOf(type);
    if (dchannel.IsEmpty()) dchannel = Text(IDS_NO_DCHANNEL);
    text += "\nD-Channel Protocol: " + dchannel + "\n";

    CString number = modem_.GetMsn();
    if (SwitchTypeUsesMsn(type))
        text += "MSN: " + number;
    else
        text += "Phone: " + number + "\nSPID 1: " + modem_.GetSpid("1") + "   SPID 2: " + modem_.GetSpid("2");
    text += "\nConnection type: " + modem_.GetPointToPoint();
    text += "\nISDN Firmware version: " + modem_.GetFirmwareVersion();
    SetItemText(IDC_SETTINGS, text);
}

void CConfigDialog::SendProfile() {
    fw::App* app = fw::App::Current();
    std::unique_ptr<CProgressDialog> progress = OpenProgress(IDS_STORING);
    if (!progress) return;
    fw::ProgressBar& bar = progress->Bar();
    bar.SetRange(0, 6);
    bar.SetStep(1);
    bar.SetPos(0);
    if (!ValidateNumbers()) return;

    CString failed;
    {
        fw::WaitCursor wait;
        auto step = [&]() {
            bar.Step();
            progress->Show();
        };
        const int type = SwitchTypeFromName(dchannel_.Text());
        step();
        if (UsesMsn()) {
            if (!modem_.SetNumber(ItemText(IDC_MSN))) failed += " MSN";
        } else {
            if (!modem_.SetNumber(ItemText(IDC_PHONE))) failed += " PHONE";
            if (!modem_.SetSpid("1", ItemText(IDC_SPID1))) failed += " SPID1";
            if (!modem_.SetSpid("2", ItemText(IDC_SPID2))) failed += " SPID2";
        }
        step();
        if (IsChecked(IDC_MULTIPOINT)) {
            if (!modem_.SetPointToPoint(1)) failed += " MULTIPOINT";
        } else {
            if (!modem_.SetPointToPoint(0)) failed += " POINT2POINT";
        }
        step();
        if (!modem_.SetSwitchType(type)) {
            failed += " DCHANNEL";
        } else if (modem_.GetSwitchType() != type) {
            app->Message("Switch Type failed verificatioon");
            failed += " DCHANNEL";
        }
        step();
        if (!modem_.SetProtocolByName(bchannel_.Text())) failed += " BCHANNEL";
        step();
        bar.SetPos(6);
    }
    progress.reset();
    if (failed.IsEmpty()) {
        app->MessageId(IDS_STORED, MB_OK | MB_ICONINFORMATION);
        ReadAdapterSettings();
    } else {
        app->Message(Text(IDS_SEND_FAILED) + failed);
    }
}
