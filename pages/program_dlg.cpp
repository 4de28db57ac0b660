#include "pages/program_dlg.h"

#include "resources/resource.h"

CProgramDlg::CProgramDlg(QWidget* parent) : CEscapeProofDialog(IDD_PROGRAM_PAGE, parent) {}
