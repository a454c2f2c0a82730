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

// --- The update routine, the progress dialog and the modem-settings dialog ------------------
#define IDD_FLASH_PROGRESS 138
#define IDC_PROG_CANCEL 2
#define IDC_PROG_BAR 1065
#define IDC_PROG_START 1066
#define IDC_PROG_STATUS 1075

#define IDD_UPDATE_MODEM_SETTINGS 170
#define IDC_MODSET_CANCEL 2
#define IDC_MODSET_UPDATE 1148
#define IDC_MODSET_STATUS 1149

#define IDS_UPD_SECTION 62201      // "Update"
#define IDS_UPD_PATH 62202         // "UpdatePath"
#define IDS_UPD_FILE 62203         // "UpdateFile"
#define IDS_UPD_OLD_VER 62204      // "UpdateOldVer"
#define IDS_UPD_NEW_VER 62205      // "UpdateNewVer"
#define IDS_UPD_INF 62206          // "UpdateINF"
#define IDS_UPD_PNP 62207          // "UpdatePnP"
#define IDS_UPD_COUNTRY 62208      // "MdmCountryCode"
#define IDS_UPD_TEMP_PAK 62209     // "TEMP.PAK"
#define IDS_UPD_NO_CMDLINE_FLASHER 62212

#define IDS_UPD_FLASH_DONE 60209
#define IDS_UPD_PORT_IN_USE 60211
#define IDS_UPD_PREPARING 60212
#define IDS_UPD_100 60215
#define IDS_UPD_NOT_SUITABLE 60218
#define IDS_UPD_NO_FLASHER 60219
#define IDS_UPD_NT_FLASHER 60220
#define IDS_UPD_SHUTDOWN 60221
#define IDS_UPD_CANCELLED 60222
#define IDS_UPD_NO_LAUNCH 60223
#define IDS_UPD_FLASHER_FAILED_9X 60224
#define IDS_UPD_FLASHER_FAILED_NT 60225
#define IDS_UPD_CANCEL_SETTINGS 60226
#define IDS_UPD_DONE 60227
#define IDS_UPD_SAVING_INF 60228
#define IDS_UPD_INF_FAILED 60229
#define IDS_UPD_REGISTRY 60230
#define IDS_UPD_OLDER 60233
#define IDS_UPD_ISDN_ENABLED 60235
#define IDS_UPD_ADDON_NEWER 60236
#define IDS_UPD_REMOVE_ADDON 60237
#define IDS_UPD_INSERT_ADDON 60238
#define IDS_UPD_NOT_ISDN_ENABLED 60239
#define IDS_UPD_REGISTRY_FAILED 60240
#define IDS_UPD_COUNTRY_FAILED 60241
#define IDS_UPD_ADAPTER_GONE 60242
#define IDS_UPD_RUNONCE_FAILED 60243
#define IDS_UPD_ADAPTER_REMOVED 60244
#define IDS_UPD_ADAPTER_GONE_UNCHECKED 60245
#define IDS_UPD_DONE_PARTLY 60246
#define IDS_UPD_NOT_CHECKED 60247
#define IDS_UPD_COUNTRY_NO_MODEM 60248
#define IDS_UPD_COUNTRY_INVALID 60249

// --- The main property sheet, the Update page and the About page ---------------------------------
#define IDI_PROGRAM 128

#define IDD_UPDATE_PAGE 130
#define IDC_UPD_UPDATE 1011
#define IDC_UPD_BROWSE 1017
#define IDC_UPD_FILES 1016
#define IDC_UPD_MODEM_STATE 1035
#define IDC_UPD_ADAPTERS 1063
#define IDC_UPD_FOLDER 1064
#define IDC_UPD_HINT 1100
#define IDC_UPD_ADAPTERS_LABEL 1097
#define IDC_UPD_VERSION_LABEL 1098
#define IDC_UPD_FOLDER_LABEL 1099
#define IDC_UPD_STATUS 1146

#define IDD_ABOUT_PAGE 100
#define IDC_ABOUT_NAME 1002
#define IDC_ABOUT_VERSION 1003
#define IDC_ABOUT_COPYRIGHT 1004
#define IDC_ABOUT_DB_VERSION 1005
#define IDC_ABOUT_VERSION_LABEL 1006
#define IDC_ABOUT_DB_LABEL 1007

#define IDS_PAGE_COL_FILE 60201      // "Update File"
#define IDS_PAGE_COL_VERSION 60202   // "Version"
#define IDS_PAGE_COL_INFO 60203      // "Info"
#define IDS_PAGE_MODEM_IN_USE 60204
#define IDS_PAGE_BROWSE_TITLE 60206
#define IDS_PAGE_NO_ADAPTERS 60207
#define IDS_PAGE_NO_FILES 60210
#define IDS_PAGE_NO_UPDATE 60213
#define IDS_PAGE_DETERMINING 60216
#define IDS_PAGE_FILTER 60217
#define IDS_SHEET_CLOSE 60232        // "Close"
#define IDS_PAGE_COMM_ERROR 60234
#define IDS_PAGE_RETRIEVING 60311
#define IDS_PAGE_SYSTEM_CHANGING 60312

// Hardware-id prefixes of the maker's adapters, 64000 upward until the first missing entry.
#define IDS_HW_PREFIX_FIRST 64000
