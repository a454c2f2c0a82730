// Resource ids of patchkit.
#pragma once

#define IDD_ABOUT 100
#define IDD_UPDATE 102
#define IDI_PATCHKIT 128
#define IDS_ABOUT 101
#define IDM_ABOUT 0x10
#define IDC_PROGRAM_ICON 1010
