#include "pages/port_dlg.h"

#include "firewall/firewall.h"
#include "framework/data_exchange.h"
#include "pages/exception_list.h"
#include "resources/resource.h"

namespace {

constexpr int kCheckColumn = 0;
constexpr int kNumberColumn = 2;
constexpr int kProtocolColumn = 3;
constexpr int kRemoveColumn = 4;

// Only the exact text "TCP" is TCP; a row of any other protocol is addressed as UDP.
LONG ProtocolOf(const QString& protocolText) {
  return protocolText == QStringLiteral("TCP") ? NET_FW_IP_PROTOCOL_TCP : NET_FW_IP_PROTOCOL_UDP;
}

}  // namespace

CPortDlg::CPortDlg(QWidget* parent) : CEscapeProofDialog(IDD_PORT_PAGE, parent) {}

CPortDlg::~CPortDlg() = default;

void CPortDlg::DoDataExchange(CDataExchange* pDX) {
  CEscapeProofDialog::DoDataExchange(pDX);
  DDX_Text(pDX, IDC_PORT_NAME, m_strName);
  DDX_Text(pDX, IDC_PORT_NUMBER, m_strPort);
  DDX_Control(pDX, IDC_PORT_LIST, m_list);
}

const MessageMap* CPortDlg::GetMessageMap() const {
  static constexpr MessageMapEntry kEntries[] = {
      OnCommand<&CPortDlg::OnTcp>(BN_CLICKED, IDC_TCP),
      OnCommand<&CPortDlg::OnUdp>(BN_CLICKED, IDC_UDP),
      OnCommand<&CPortDlg::OnAddPort>(BN_CLICKED, IDC_ADD_PORT),
      OnNotify<&CPortDlg::OnListClick>(NM_CLICK, IDC_PORT_LIST),
  };
  static const MessageMap map{CEscapeProofDialog::GetMessageMap(), kEntries};
  return &map;
}

BOOL CPortDlg::OnInitDialog() {
  CEscapeProofDialog::OnInitDialog();
  // The buttons are not exchanged with m_nProtocol: only clicks on them change it.
  CheckRadioButton(IDC_TCP, IDC_UDP, IDC_TCP);
  SetupListColumns();
  return 1;
}

void CPortDlg::SetupListColumns() {
  const int u = m_list.width() / 10;
  SetupExceptionList(m_list, {{"Enable", (3 * u) / 2},
                              {"Port Name", (7 * u) / 2},
                              {"Port Number", 2 * u},
                              {"Protocol", (3 * u) / 2 - 1},
                              {"", (3 * u) / 2}});
}

void CPortDlg::AddPortRow(std::string name, std::string protocolText, std::string numberText, int enabled) {
  const int n = m_nRows;
  m_list.InsertItem(n, "");
  m_list.SetCellCheck(n, kCheckColumn, enabled == 1 ? 1 : 0);
  m_list.SetItemText(n, 1, name.c_str());
  m_list.SetItemText(n, kNumberColumn, numberText.c_str());
  m_list.SetItemText(n, kProtocolColumn, protocolText.c_str());
  m_list.SetItemText(n, kRemoveColumn, "Remove", RGB(0, 0, 255), RGB(255, 255, 255));
  ++m_nRows;
}

void CPortDlg::RebuildList(CFirewall& mainWindow) {
  m_list.DeleteAllItems();
  m_nRows = 0;
  mainWindow.ListOpenPorts();
}

void CPortDlg::OnTcp() { m_nProtocol = 1; }

void CPortDlg::OnUdp() { m_nProtocol = 2; }

void CPortDlg::OnAddPort() {
  UpdateData(1);
  const int number = TextToNumber(m_strPort);
  // 1 passes: only numbers below it are refused.
  if (number < 1) {
    MessageBox(QStringLiteral("You most entre a number higher than 1"));
    return;
  }
  if (m_strName.isEmpty()) {
    MessageBox(QStringLiteral("You most entre the name for this port"));
    return;
  }
  CFirewall* mainWindow = FindMainWindow(this);
  if (!mainWindow) return;
  const UniqueBstr name = AllocSysString(m_strName);
  const bool tcp = m_nProtocol == 1;

  // The row shows at once, with the number as typed; if the firewall refuses the port, the
  // list is listed again so that the row does not claim a port the firewall keeps closed.
  AddPortRow(m_strName.toStdString(), tcp ? "TCP" : "UDP", m_strPort.toStdString(), 1);
  if (mainWindow->AddPort(number, tcp ? NET_FW_IP_PROTOCOL_TCP : NET_FW_IP_PROTOCOL_UDP, name.get()) != FW_OK) {
    RebuildList(*mainWindow);
  }

  m_strName.clear();
  m_strPort.clear();
  UpdateData(0);
}

void CPortDlg::OnListClick(NMHDR* header, LRESULT* result) {
  *result = 0;
  const auto [row, column] = HitTestClick(m_list, header);
  if (row == -1 || (column != kRemoveColumn && column != kCheckColumn)) return;
  CFirewall* mainWindow = FindMainWindow(this);
  if (!mainWindow) return;
  const int number = TextToNumber(m_list.GetItemText(row, kNumberColumn));
  const LONG protocol = ProtocolOf(m_list.GetItemText(row, kProtocolColumn));

  if (column == kRemoveColumn) {
    mainWindow->RemovePort(number, protocol);
    RebuildList(*mainWindow);
  } else {
    ToggleRowCheck(m_list, row, [&](int current) { return mainWindow->TogglePortEnabled(number, protocol, current); });
  }
}
