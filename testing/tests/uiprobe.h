#pragma once
#define IDD_PROBE 100
#define IDC_LABEL 101
#define IDC_NAME 102
#define IDC_PLACE 103
#define IDC_ONE 104
#define IDC_TWO 105
#define IDC_CHECK 106
#define IDC_ECHO 107
