// Resource and control ids shared by the resource script and the dialog
// code. The numbers are fixed: the dialog test finds controls by them.
#ifndef VM_APP_WIN32_RESOURCE_H_
#define VM_APP_WIN32_RESOURCE_H_

#define IDD_ABOUT_DIALOG 100
#define IDS_ABOUT_MENU_ENTRY 101
#define IDD_MIGRATION_DIALOG 102
#define IDD_UNDO_CHOICE 103
#define IDR_APP_ICON 128

#define IDC_SOURCE_DIR 1000
#define IDC_SOURCE_MAIL_DIR 1001
#define IDC_TARGET_DIR 1002
#define IDC_TARGET_MAIL_DIR 1003
#define IDC_START 1004
#define IDC_RESULT_LIST 1005
#define IDC_MODE_SAME 1006
#define IDC_MODE_SUFFIX 1007
#define IDC_MODE_COMMON 1008
#define IDC_MODE_CIPHER 1009
#define IDC_SUFFIX_EDIT 1010
#define IDC_COMMON_EDIT 1011
#define IDC_PREVIEW 1012
#define IDC_STOP 1013
#define IDC_SYNC 1014
#define IDC_SYNC_HINT 1015
#define IDC_VERIFY 1016
#define IDC_VERIFY_CONTENT 1017
#define IDC_VERIFY_ONLY 1018
#define IDC_SAVE_REPORT 1019
#define IDC_RECORDS_DIR 1020
#define IDC_PROGRESS 1021
#define IDC_STATUS 1022
// The About box's version line, filled in from vm_version.h.
#define IDC_ABOUT_VERSION 1023
// The result list of a run shows only the accounts where something changed.
#define IDC_CHANGES_ONLY 1024
// The undo of a recorded run, and its choice of runs.
#define IDC_UNDO 1025
#define IDC_UNDO_RUNS 1026
#define IDC_UNDO_BROWSE 1027
// After the migration, keep syncing until stopped.
#define IDC_WATCH 1028
// A sync also takes out what was deleted or moved on the source.
#define IDC_MIRROR 1029

// Commands of the result list's context menu.
#define IDM_COPY_LINES 40001
#define IDM_SELECT_ALL 40002

// System-menu command of the About entry.
#define IDM_ABOUT 16

#endif  // VM_APP_WIN32_RESOURCE_H_
