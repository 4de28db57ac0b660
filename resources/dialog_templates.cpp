#include "resources/dialog_template.h"

#include <array>

#include "resources/resource.h"

namespace {

using enum ControlKind;

constexpr DWORD kControl = WS_CHILD | WS_VISIBLE;
constexpr DWORD kButton = kControl | WS_TABSTOP;
constexpr DWORD kEdit = kControl | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr DWORD kChildDialog = WS_CHILD | DS_SETFONT;
constexpr DWORD kModalDialog = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
constexpr const char* kFont = "MS Shell Dlg";

constexpr std::array kAboutControls{
    ControlTemplate{StaticIcon, IDC_STATIC, "", kControl, 11, 17, 20, 20, IDR_MAINFRAME},
    ControlTemplate{StaticText, IDC_STATIC, "Brenvo Version 4.0.3", kControl | SS_NOPREFIX, 40, 16, 119, 8},
    ControlTemplate{StaticText, IDC_ABOUT_RULES, "", kControl, 40, 31, 119, 8},
    ControlTemplate{DefPushButton, IDOK, "OK", kButton | WS_GROUP, 145, 19, 50, 16},
};

constexpr std::array kMainControls{
    ControlTemplate{DefPushButton, IDOK, "About", kButton, 239, 182, 56, 16},
    ControlTemplate{PushButton, IDCANCEL, "Exit", kButton, 300, 182, 56, 16},
    ControlTemplate{GroupBox, IDC_STATIC, "FireWall Status", kControl, 7, 174, 114, 27},
    ControlTemplate{AutoRadioButton, IDC_FIREWALL_ON, "On", kControl | WS_GROUP, 15, 187, 25, 10},
    ControlTemplate{AutoRadioButton, IDC_FIREWALL_OFF, "Off", kControl, 71, 187, 27, 10},
    ControlTemplate{TabControl, IDC_TAB, "", kControl | WS_TABSTOP | WS_GROUP, 7, 7, 355, 164},
    ControlTemplate{StaticText, IDC_PAGE_FRAME, "", kControl, 15, 24, 74, 44},
    ControlTemplate{StaticText, IDC_BANNER_FRAME, "", kControl, 7, 204, 355, 36},
    ControlTemplate{GroupBox, IDC_STATIC, "", kControl, 171, 174, 191, 27},
    ControlTemplate{PushButton, IDC_FORUM, "Forum", kButton, 178, 182, 56, 16},
};

constexpr std::array kPortControls{
    ControlTemplate{StaticText, IDC_STATIC, "Name:", kControl | SS_RIGHT, 3, 113, 38, 12},
    ControlTemplate{StaticText, IDC_STATIC, "Port Number:", kControl | SS_RIGHT, 0, 127, 45, 11},
    ControlTemplate{AutoRadioButton, IDC_TCP, "TCP", kControl | WS_GROUP, 219, 123, 25, 10},
    ControlTemplate{AutoRadioButton, IDC_UDP, "UDP", kControl, 255, 123, 29, 10},
    ControlTemplate{Edit, IDC_PORT_NAME, "", kEdit | WS_GROUP, 46, 112, 164, 15},
    ControlTemplate{Edit, IDC_PORT_NUMBER, "", kEdit, 46, 126, 164, 15},
    ControlTemplate{PushButton, IDC_ADD_PORT, "Add Port", kButton | BS_MULTILINE, 303, 111, 32, 29},
    ControlTemplate{GroupBox, IDC_STATIC, "Protocol", kControl, 213, 107, 79, 33},
    ControlTemplate{ListView, IDC_PORT_LIST, "",
                    kControl | WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_ALIGNLEFT, 0, 1, 335, 106},
};

constexpr std::array kProgramControls{
    ControlTemplate{ListView, IDC_PROGRAM_LIST, "",
                    kControl | WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHAREIMAGELISTS, 1, 1, 333,
                    103},
    ControlTemplate{StaticText, IDC_STATIC, "Path:", kControl | SS_RIGHT, 1, 106, 25, 17},
    ControlTemplate{StaticText, IDC_STATIC, "Name:", kControl | SS_RIGHT, 1, 127, 25, 11},
    ControlTemplate{Edit, IDC_PROGRAM_PATH, "", kEdit | ES_READONLY, 35, 106, 227, 14},
    ControlTemplate{Edit, IDC_PROGRAM_NAME, "", kEdit, 35, 123, 227, 14},
    ControlTemplate{PushButton, IDC_BROWSE, "Browse..", kButton, 272, 106, 62, 14},
    ControlTemplate{PushButton, IDC_ADD_PROGRAM, "Add Program", kButton, 272, 123, 62, 14},
};

constexpr std::array kBannerControls{
    ControlTemplate{StaticBitmap, IDC_BANNER_BITMAP, "", kControl | SS_NOTIFY | SS_CENTERIMAGE, 2, 0, 359, 37,
                    IDB_BANNER},
};

constexpr std::array kSnifferControls{
    ControlTemplate{GroupBox, IDC_INTERFACE_GROUP, "Interfaces", WS_CHILD, 0, 0, 190, 27},
    ControlTemplate{ComboBox, IDC_INTERFACE_COMBO, "", WS_CHILD | WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWN | CBS_SORT, 7,
                    9, 174, 37},
    ControlTemplate{TreeView, IDC_PACKET_TREE, "", kControl | WS_BORDER | WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES, 0,
                    0, 331, 141},
};

constexpr std::array kBlockedNoticeControls{
    ControlTemplate{StaticIcon, IDC_STATIC, "", kControl, 7, 7, 20, 20, IDR_MAINFRAME},
    ControlTemplate{StaticText, IDC_STATIC,
                    "Brenvo Firewall has blocked this program from accepting connections from the network.",
                    kControl | SS_NOPREFIX, 34, 7, 209, 18},
    ControlTemplate{StaticText, IDC_STATIC, "Name:", kControl, 34, 31, 36, 8},
    ControlTemplate{StaticText, IDC_BLOCKED_NAME, "", kControl | SS_NOPREFIX, 74, 31, 169, 8},
    ControlTemplate{StaticText, IDC_STATIC, "Path:", kControl, 34, 44, 36, 8},
    ControlTemplate{Edit, IDC_BLOCKED_PATH, "", kEdit | ES_READONLY, 74, 42, 169, 12},
    ControlTemplate{StaticText, IDC_STATIC, "Port:", kControl, 34, 57, 36, 8},
    ControlTemplate{StaticText, IDC_BLOCKED_PORT, "", kControl, 74, 57, 169, 8},
    ControlTemplate{StaticText, IDC_STATIC, "From:", kControl, 34, 68, 36, 8},
    ControlTemplate{StaticText, IDC_BLOCKED_REMOTE, "", kControl, 74, 68, 169, 8},
    ControlTemplate{StaticText, IDC_STATIC, "Blocked:", kControl, 34, 79, 36, 8},
    ControlTemplate{StaticText, IDC_BLOCKED_COUNT, "", kControl, 74, 79, 169, 8},
    ControlTemplate{DefPushButton, IDC_KEEP_BLOCKING, "Keep Blocking", kButton | WS_GROUP, 61, 95, 58, 14},
    ControlTemplate{PushButton, IDC_UNBLOCK, "Unblock", kButton, 123, 95, 58, 14},
    ControlTemplate{PushButton, IDCANCEL, "Ask Me Later", kButton, 185, 95, 58, 14},
};

constexpr std::array kTemplates{
    DialogTemplate{IDD_ABOUTBOX, "About Brenvo", kModalDialog, 0, 0, 0, 202, 54, kFont, 8, kAboutControls},
    DialogTemplate{IDD_FIREWALL_DIALOG, "Brenvo", kModalDialog | WS_VISIBLE, WS_EX_APPWINDOW, 0, 0, 369, 247, kFont, 8,
                   kMainControls},
    DialogTemplate{IDD_PORT_PAGE, nullptr, kChildDialog, 0, 0, 0, 339, 151, kFont, 8, kPortControls},
    DialogTemplate{IDD_PROGRAM_PAGE, nullptr, kChildDialog, 0, 0, 0, 338, 141, kFont, 8, kProgramControls},
    DialogTemplate{IDD_PAGE_HOST, nullptr, kChildDialog, 0, 0, 0, 344, 142, kFont, 8, {}},
    DialogTemplate{IDD_BANNER, nullptr, kChildDialog, 0, 0, 0, 362, 37, kFont, 8, kBannerControls},
    DialogTemplate{IDD_BANNER_HOST, nullptr, kChildDialog | WS_BORDER, 0, 0, 0, 355, 38, kFont, 8, {}},
    DialogTemplate{IDD_SNIFFER_PAGE, nullptr, kChildDialog | WS_SYSMENU, 0, 0, 0, 331, 141, kFont, 8, kSnifferControls},
    DialogTemplate{IDD_BLOCKED_NOTICE, "Brenvo Firewall", kModalDialog, 0, 0, 0, 250, 116, kFont, 8,
                   kBlockedNoticeControls},
};

}  // namespace

const DialogTemplate* FindDialogTemplate(int id) {
  for (const DialogTemplate& t : kTemplates) {
    if (t.id == id) return &t;
  }
  return nullptr;
}
