// Resource ids of cardflash: the wait box and the string-table entries of the start-up.
#pragma once

#define IDD_PLEASE_WAIT 193
#define IDC_WAIT_TEXT 1000

#define IDS_LANGUAGE_BASE 62119   // "%1_%2": program base name, language
#define IDS_APP_SECTION 62121     // "Application"
#define IDS_CUR_LANGUAGE 62122    // "CurLanguage"
#define IDS_UPGRADE 62134         // "UPGRADE"
#define IDS_DEVICE_DB 62135       // "QorvDevices.ini"
#define IDS_SWITCH_TVL 62210      // "/TVL"
#define IDS_SWITCH_BOTH 62211     // "/FLASH_BOTH"
#define IDS_NO_SERVICE 62213
#define IDS_SHEET_CAPTION 57344   // "Dorvex Upgrade Utility"
