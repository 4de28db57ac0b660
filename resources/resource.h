#pragma once

// Resource and control ids shared by the templates and the code that uses them.

// Dialog templates
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_FIREWALL_DIALOG = 102;
inline constexpr int IDD_PORT_PAGE = 130;
inline constexpr int IDD_PROGRAM_PAGE = 131;
inline constexpr int IDD_PAGE_HOST = 132;
inline constexpr int IDD_BANNER = 134;
inline constexpr int IDD_BANNER_HOST = 136;
inline constexpr int IDD_SNIFFER_PAGE = 141;
inline constexpr int IDD_BLOCKED_NOTICE = 145;

// Strings, icons and bitmaps
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDR_MAINFRAME = 128;
inline constexpr int IDB_BANNER = 135;
inline constexpr int IDB_CHECKBOXES = 139;
inline constexpr int IDI_PACKET = 142;
inline constexpr int IDI_HEADER = 143;
inline constexpr int IDI_FIELD = 144;

// Standard command ids
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDM_ABOUTBOX = 0x0010;

// About box
inline constexpr int IDC_ABOUT_RULES = 1000;

// Main window
inline constexpr int IDC_FIREWALL_ON = 1002;
inline constexpr int IDC_FIREWALL_OFF = 1003;
inline constexpr int IDC_TAB = 1004;
inline constexpr int IDC_FORUM = 1007;
inline constexpr int IDC_PAGE_FRAME = 1105;
inline constexpr int IDC_BANNER_FRAME = 1106;

// Programs page
inline constexpr int IDC_PROGRAM_PATH = 1005;
inline constexpr int IDC_PROGRAM_NAME = 1006;
inline constexpr int IDC_BROWSE = 1007;
inline constexpr int IDC_PROGRAM_LIST = 1008;
inline constexpr int IDC_ADD_PROGRAM = 1009;

// Ports page
inline constexpr int IDC_TCP = 1002;
inline constexpr int IDC_UDP = 1003;
inline constexpr int IDC_PORT_NAME = 1005;
inline constexpr int IDC_PORT_NUMBER = 1006;
inline constexpr int IDC_ADD_PORT = 1007;
inline constexpr int IDC_PORT_LIST = 1008;

// Banner
inline constexpr int IDC_BANNER_BITMAP = 1010;

// Notice of a blocked program; "Ask Me Later" is IDCANCEL
inline constexpr int IDC_KEEP_BLOCKING = 1020;
inline constexpr int IDC_UNBLOCK = 1021;
inline constexpr int IDC_BLOCKED_NAME = 1022;
inline constexpr int IDC_BLOCKED_PATH = 1023;
inline constexpr int IDC_BLOCKED_PORT = 1024;
inline constexpr int IDC_BLOCKED_REMOTE = 1025;
inline constexpr int IDC_BLOCKED_COUNT = 1026;

// Traffic page
inline constexpr int IDC_INTERFACE_GROUP = 1000;
inline constexpr int IDC_INTERFACE_COMBO = 1001;
inline constexpr int IDC_PACKET_TREE = 1005;
