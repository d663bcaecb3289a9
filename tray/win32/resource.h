// Resource ids of tavik.exe, for tavik.rc. The program's code takes the same
// numbers from tray/tray_platform.h; the resource check under Wine compares
// the two.
#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_TAVIK_DIALOG 102
#define IDR_MAINFRAME 128
#define IDR_PAUSED 129
#define IDR_TRAY_MENU 130
#define IDD_SETTINGS 133
#define IDC_ABOUT_NOTE 1030

#define IDM_TRAY_EXIT 32771
#define IDM_TRAY_ABOUT 32772
#define IDM_TRAY_SETTINGS 32773
#define IDM_TRAY_PAUSE 32774
#define IDM_TRAY_RECORD 32775
#define IDM_TRAY_RECORDINGS 32776
