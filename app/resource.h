// Resource ids of the program. IDD_ dialogs, IDC_ controls, IDS_ strings,
// IDM_ menus and commands, IDI_ icons. Numbers are fixed: other parts of the
// system and the command line ("-string<id>") refer to them.
#pragma once

#define IDD_ABOUT 100
#define IDD_HOST 129
#define IDD_DISCOVERY 130
#define IDD_NETWORK_SETUP 205
#define IDD_PAGE_RMT 210
#define IDD_PAGE_KVXR 211
#define IDD_FW_UPDATE 212
#define IDD_PROGRESS 213
#define IDD_RECOVERY 214
#define IDD_RECOVERY_HINT 216

#define IDI_APP 203
#define IDM_TRAY 201

// Strings
#define IDS_APP_NAME 128
#define IDS_OUT_OF_NETWORK 131
#define IDS_APPLY_NOT_LISTED 140
#define IDS_APPLY_REFUSED 141
#define IDS_APPLY_NO_ANSWER 142
#define IDS_APPLY_FAILED 143
#define IDS_CHANGING_NETWORK 144
#define IDS_READY_TO_DISCOVER 145
#define IDS_NO_DEVICES 146
#define IDS_RECOVERY_MODE 147
#define IDS_COL_DEVICE 148
#define IDS_COL_IP 149
#define IDS_ADDRESS_REFUSED 150
#define IDS_GATEWAY_OUTSIDE 151
#define IDS_REBOOT_FAILED 152
#define IDS_WINK_REFUSED 153

// Controls
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
#define IDC_DEVICE_LIST 1000
#define IDC_DHCP 1004
#define IDC_STATIC_IP 1005
#define IDC_IP_ADDRESS 1006
#define IDC_NETMASK 1007
#define IDC_GATEWAY 1008
#define IDC_PAGE_AREA 1010
#define IDC_CONFIGURE 1011
#define IDC_IDENTIFY 1012
#define IDC_SERIAL 1013
#define IDC_MAC 1014
#define IDC_REVERT 1015
#define IDC_APPLY 1016
#define IDC_FW_LINK 1017
#define IDC_IP_HEADING 1018
#define IDC_DEVICE_TYPE 1019
#define IDC_ADDRESS_TYPE 1020
#define IDC_IP_ADDRESS_LABEL 1021
#define IDC_NETMASK_LABEL 1022
#define IDC_GATEWAY_LABEL 1023
#define IDC_SUGGEST 1024
#define IDC_FW_CURRENT 1026
#define IDC_FW_LATEST 1027
#define IDC_PROGRESS_BAR 1028
#define IDC_PROGRESS_TEXT 1029
#define IDC_WARNING 1030
#define IDC_ABOUT_VERSION 1031
#define IDC_DISCOVER 1032
#define IDC_FW_RESULT 1033

// Commands
#define IDM_OPEN_WEB 32771
#define IDM_NETWORK_SETUP 32772
#define IDM_WINK 32773
#define IDM_SCAN 32777
#define IDM_DISPLAY_LIST 32781
#define IDM_RECOVERY 32784
#define IDM_ABOUT 57664
#define IDM_EXIT 57665

// The application manifest (RT_MANIFEST, id 1 for an executable).
#define IDR_MANIFEST 1
