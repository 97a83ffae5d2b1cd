// Resource and control ids of Flashwell.exe.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_FLASHWELL_DIALOG 102
#define IDR_MAINFRAME 130
#define IDB_LOGO 136

// Main dialog
#define IDC_STATUS 1000
#define IDC_UPDATE 1001
#define IDC_IMAGE_PATH 1002
#define IDC_SELECT_IMAGE 1003
#define IDC_PROGRESS 1004
#define IDC_MODEL 1005
#define IDC_VERSION 1006
#define IDC_LOGO 1007
// About box
#define IDC_VERSION_LINE 1008

// System menu entry of the about box
#define IDM_ABOUTBOX 0x0010
