#include "app/blocked_notice_dlg.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <filesystem>

#include "framework/data_exchange.h"
#include "resources/dialog_template.h"
#include "resources/resource.h"

namespace {

QString ProgramName(const std::string& path) {
  return QString::fromStdString(std::filesystem::path(path).filename().string());
}

QString PortText(const BlockedFlow& blocked) {
  const QString protocol = blocked.protocol == IPPROTO_TCP   ? QStringLiteral("TCP")
                           : blocked.protocol == IPPROTO_UDP ? QStringLiteral("UDP")
                                                             : QStringLiteral("protocol %1").arg(blocked.protocol);
  return QStringLiteral("%1 %2").arg(protocol).arg(blocked.localPort);
}

// "192.0.2.7:40000", "[2001:db8::7]:40000"; empty where the remote end was not told.
QString RemoteText(const BlockedFlow& blocked) {
  if (blocked.family != AF_INET && blocked.family != AF_INET6) return {};
  char address[INET6_ADDRSTRLEN] = {};
  if (!inet_ntop(blocked.family, blocked.remoteAddress.data(), address, sizeof address)) return {};
  const QString host = blocked.family == AF_INET6 ? QStringLiteral("[%1]").arg(address) : QString(address);
  return QStringLiteral("%1:%2").arg(host).arg(blocked.remotePort);
}

QString CountText(std::uint64_t count) {
  return count == 1 ? QStringLiteral("once") : QStringLiteral("%1 times").arg(count);
}

}  // namespace

CBlockedNoticeDlg::CBlockedNoticeDlg(QWidget* owner, Unblock unblock)
    : CDialog(IDD_BLOCKED_NOTICE, owner), m_unblock(std::move(unblock)) {
  Create(IDD_BLOCKED_NOTICE, owner);
  // Made as a child, then raised to a window of its own that the main window owns: so the
  // main window's modal run leaves it usable, and it goes with the main window.
  setParent(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                       Qt::WindowCloseButtonHint);
  setWindowTitle(QString::fromUtf8(FindDialogTemplate(IDD_BLOCKED_NOTICE)->caption));
  setFixedSize(size());
  // A notice must not take the keys the user is typing elsewhere.
  setAttribute(Qt::WA_ShowWithoutActivating);
}

void CBlockedNoticeDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, IDC_BLOCKED_NAME, m_name);
  DDX_Text(pDX, IDC_BLOCKED_PATH, m_strPath);
  DDX_Control(pDX, IDC_BLOCKED_PORT, m_port);
  DDX_Control(pDX, IDC_BLOCKED_REMOTE, m_remote);
  DDX_Control(pDX, IDC_BLOCKED_COUNT, m_count);
}

const MessageMap* CBlockedNoticeDlg::GetMessageMap() const {
  static constexpr MessageMapEntry kEntries[] = {
      OnCommand<&CBlockedNoticeDlg::OnKeepBlocking>(BN_CLICKED, IDC_KEEP_BLOCKING),
      OnCommand<&CBlockedNoticeDlg::OnUnblock>(BN_CLICKED, IDC_UNBLOCK),
  };
  static const MessageMap map{CDialog::GetMessageMap(), kEntries};
  return &map;
}

CBlockedNoticeDlg::Key CBlockedNoticeDlg::KeyOf(const BlockedFlow& blocked) {
  return {blocked.holder.program, blocked.protocol, blocked.localPort};
}

void CBlockedNoticeDlg::Notice(const BlockedFlow& blocked) {
  const Key key = KeyOf(blocked);
  if (m_keptBlocked.contains(key)) return;
  if (!m_shown || KeyOf(*m_shown) == key) {
    Show(blocked);
    return;
  }
  const auto waiting = std::ranges::find(m_waiting, key, &CBlockedNoticeDlg::KeyOf);
  if (waiting != m_waiting.end()) {
    *waiting = blocked;
    return;
  }
  if (m_waiting.size() == kMostWaiting) m_waiting.pop_front();
  m_waiting.push_back(blocked);
}

void CBlockedNoticeDlg::Show(const BlockedFlow& blocked) {
  m_shown = blocked;
  m_name.setText(ProgramName(blocked.holder.program));
  m_strPath = QString::fromStdString(blocked.holder.program);
  m_port.setText(PortText(blocked));
  m_remote.setText(RemoteText(blocked));
  m_count.setText(CountText(blocked.count));
  UpdateData(0);
  show();
  raise();
}

void CBlockedNoticeDlg::ShowNext() {
  if (m_waiting.empty()) {
    m_shown.reset();
    hide();
    return;
  }
  const BlockedFlow next = m_waiting.front();
  m_waiting.pop_front();
  Show(next);
}

void CBlockedNoticeDlg::OnKeepBlocking() {
  if (m_shown) m_keptBlocked.insert(KeyOf(*m_shown));
  ShowNext();
}

void CBlockedNoticeDlg::OnUnblock() {
  if (!m_shown) return;
  const QString path = QString::fromStdString(m_shown->holder.program);
  if (const Status added = m_unblock(path, ProgramName(m_shown->holder.program)); !added) {
    MessageBox(QString::fromStdString(added.reason()), {}, MB_ICONERROR | MB_OK);
    return;
  }
  ShowNext();
}

void CBlockedNoticeDlg::OnCancel() { ShowNext(); }
