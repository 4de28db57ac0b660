#include "pages/program_dlg.h"

#include "firewall/com/com_runtime.h"
#include "firewall/firewall.h"
#include "framework/data_exchange.h"
#include "framework/file_dialog.h"
#include "pages/exception_list.h"
#include "resources/resource.h"

namespace {

constexpr int kCheckColumn = 0;
constexpr int kRemoveColumn = 2;
constexpr int kPathColumn = 3;

}  // namespace

CProgramDlg::CProgramDlg(QWidget* parent) : CEscapeProofDialog(IDD_PROGRAM_PAGE, parent) {}

CProgramDlg::~CProgramDlg() = default;

void CProgramDlg::DoDataExchange(CDataExchange* pDX) {
  CEscapeProofDialog::DoDataExchange(pDX);
  DDX_Control(pDX, IDC_PROGRAM_LIST, m_list);
  DDX_Text(pDX, IDC_PROGRAM_PATH, m_strPath);
  DDX_Text(pDX, IDC_PROGRAM_NAME, m_strName);
}

const MessageMap* CProgramDlg::GetMessageMap() const {
  static constexpr MessageMapEntry kEntries[] = {
      OnCommand<&CProgramDlg::OnBrowse>(BN_CLICKED, IDC_BROWSE),
      OnCommand<&CProgramDlg::OnAddProgram>(BN_CLICKED, IDC_ADD_PROGRAM),
      OnNotify<&CProgramDlg::OnListClick>(NM_CLICK, IDC_PROGRAM_LIST),
  };
  static const MessageMap map{CEscapeProofDialog::GetMessageMap(), kEntries};
  return &map;
}

BOOL CProgramDlg::OnInitDialog() {
  CEscapeProofDialog::OnInitDialog();
  SetupListColumns();
  return 1;
}

void CProgramDlg::SetupListColumns() {
  const int w = m_list.width() / 5;
  SetupExceptionList(m_list, {{"Enable", w - 32}, {"Program", w + 10}, {"", w / 2 + 28}, {"Path", (5 * w) / 2 - 10}});
}

void CProgramDlg::AddProgramRow(std::string name, std::string path, int enabled) {
  const int n = m_nRows;
  m_list.InsertItem(n, "");
  m_list.SetCellCheck(n, kCheckColumn, enabled == 1 ? 1 : 0);
  m_list.SetItemText(n, 1, name.c_str());
  m_list.SetItemText(n, kRemoveColumn, "Remove", RGB(0, 0, 255), RGB(255, 255, 255));
  m_list.SetItemText(n, kPathColumn, path.c_str());
  ++m_nRows;
}

Status CProgramDlg::AddProgram(CFirewall& mainWindow, const QString& path, const QString& name) {
  const UniqueBstr pathText = AllocSysString(path);
  const UniqueBstr nameText = AllocSysString(name);
  // What an earlier failure left unsaid must not pass for this one's reason.
  TakeErrorInfoText();

  // The row shows at once; if the firewall refuses the program, the list is listed again
  // so that the row does not claim a program the firewall does not let through.
  AddProgramRow(name.toStdString(), path.toStdString(), 1);
  const FW_ERROR_CODE code = mainWindow.AddApp(pathText.get(), nameText.get());
  if (code == FW_OK) return {};
  std::string reason = TakeErrorInfoText();
  RebuildList(mainWindow);
  if (reason.empty()) reason = "The firewall did not add the program (error " + std::to_string(code) + ").";
  return Failed(std::move(reason));
}

void CProgramDlg::RebuildList(CFirewall& mainWindow) {
  m_list.DeleteAllItems();
  m_nRows = 0;
  mainWindow.ListAuthorizedApps();
}

void CProgramDlg::OnBrowse() {
  UpdateData(1);
  CFileDialog dialog(OFN_ALLOWMULTISELECT, "All Files (*.*)|*.*||", this);
  if (dialog.DoModal() == IDOK) m_strPath = dialog.GetPathName();
  // Also after a cancel, so that a typed name is kept.
  UpdateData(0);
}

void CProgramDlg::OnAddProgram() {
  UpdateData(1);
  if (m_strPath.isEmpty()) {
    MessageBox(QStringLiteral("You most choose a program"));
    return;
  }
  if (m_strName.isEmpty()) {
    MessageBox(QStringLiteral("You most entre the name for this program"));
    return;
  }
  CFirewall* mainWindow = FindMainWindow(this);
  if (!mainWindow) return;
  // The page says nothing of a refusal: the list, listed again, shows what the firewall holds.
  static_cast<void>(AddProgram(*mainWindow, m_strPath, m_strName));

  m_strPath.clear();
  m_strName.clear();
  UpdateData(0);
}

void CProgramDlg::OnListClick(NMHDR* header, LRESULT* result) {
  *result = 0;
  const auto [row, column] = HitTestClick(m_list, header);
  if (row == -1 || (column != kRemoveColumn && column != kCheckColumn)) return;
  CFirewall* mainWindow = FindMainWindow(this);
  if (!mainWindow) return;
  const UniqueBstr path = AllocSysString(m_list.GetItemText(row, kPathColumn));

  if (column == kRemoveColumn) {
    mainWindow->RemoveApp(path.get());
    RebuildList(*mainWindow);
  } else {
    ToggleRowCheck(m_list, row, [&](int current) { return mainWindow->ToggleAppEnabled(path.get(), current); });
  }
}
