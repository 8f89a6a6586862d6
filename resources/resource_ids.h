// Numbers of the program's resources: strings, dialogs, controls, pictures.
#pragma once

#define IDS_NO_DEVICE 101
#define IDS_MESSAGE_CAPTION 102
#define IDS_INSTALLED 103
#define IDS_INSTALL_FAILED 104
#define IDS_NOTHING_TO_REMOVE 105
#define IDS_TREE_PACKAGE 106
#define IDS_TREE_DRIVER_LIST 107
#define IDS_TREE_DRIVER 108
#define IDS_TREE_NO_DRIVER 109
#define IDS_TREE_QUEUE 110
#define IDS_TREE_NO_QUEUE 111
#define IDS_REMOVED 112
#define IDS_REMOVE_FAILED 113
#define IDS_UNINSTALL_FAILED 114
#define IDS_UNINSTALLED 115
#define IDS_TREE_FOLDER 116
#define IDS_FOUND_PRINTER 117
#define IDS_DONE 118
#define IDS_SEARCHING 119
#define IDS_PROTECTED_PRINT 120
#define IDS_HELP 121

#define IDD_UNINSTALL 105
#define IDD_INSTALLER 106

#define IDI_PROGRAM 102
#define IDB_GEAR 112
#define IDB_CONNECTION 113

#define IDC_REMOVE 1
// Button 2 of both dialogs is Windows' IDCANCEL: "Close" and "Cancel" (later "Done").
#define IDC_WIZARD 3
#define IDC_TREE 1001
#define IDC_HEADING 1002
#define IDC_PROGRESS 1003
#define IDC_LOG 1005
#define IDC_STATUS 1006
#define IDC_PICTURE 1007
