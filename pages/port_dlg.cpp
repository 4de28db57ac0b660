#include "pages/port_dlg.h"

#include "resources/resource.h"

CPortDlg::CPortDlg(QWidget* parent) : CEscapeProofDialog(IDD_PORT_PAGE, parent) {}
