#include "monitor/sniffer_dlg.h"

#include "resources/resource.h"

CSnifferDlg::CSnifferDlg(QWidget* parent) : CEscapeProofDialog(IDD_SNIFFER_PAGE, parent) {}
