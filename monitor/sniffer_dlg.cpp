#include "monitor/sniffer_dlg.h"

#include "framework/data_exchange.h"
#include "framework/modal_services.h"
#include "resources/images.h"
#include "resources/resource.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetrics>

namespace {

constexpr int kTreeFontHeight = 12;  // cell height in pixels

// By the glyphs themselves: some monospaced faces do not declare themselves fixed-pitch.
bool IsMonospaced(const QFont& font) {
  const QFontMetrics metrics(font);
  return metrics.horizontalAdvance(QLatin1Char('i')) == metrics.horizontalAdvance(QLatin1Char('W'));
}

}  // namespace

std::size_t CSnifferDlg::s_maxSegments = PacketTreeModel::kDefaultLimit;

void CSnifferDlg::SetMaxSegments(std::size_t limit) { s_maxSegments = limit; }

CSnifferDlg::CSnifferDlg(QWidget* parent, const std::string& logDirectory)
    // The hand-off is made after the engine, which only keeps its address until the
    // capture starts in OnInitDialog.
    : CEscapeProofDialog(IDD_SNIFFER_PAGE, parent), CTrafficMonitor(m_handoff, logDirectory) {}

CSnifferDlg::~CSnifferDlg() {
  // The capture thread uses the hand-off and the model: it ends before they do.
  CTrafficMonitor::StopCapture();
}

void CSnifferDlg::DoDataExchange(CDataExchange* pDX) {
  CEscapeProofDialog::DoDataExchange(pDX);
  DDX_Control(pDX, IDC_INTERFACE_COMBO, m_interfaceCombo);
  DDX_Control(pDX, IDC_INTERFACE_GROUP, m_interfaceGroup);
  DDX_Control(pDX, IDC_PACKET_TREE, m_tree);
}

const MessageMap* CSnifferDlg::GetMessageMap() const {
  static constexpr MessageMapEntry kEntries[] = {
      OnSysCommandMessage<&CSnifferDlg::OnSysCommand>(),       OnMessage<&CSnifferDlg::OnPaint>(WM_PAINT),
      OnQueryDragIconMessage<&CSnifferDlg::OnQueryDragIcon>(), OnSizeMessage<&CSnifferDlg::OnSize>(),
      OnMessage<&CSnifferDlg::StopCapture>(WM_CLOSE),
  };
  static const MessageMap map{CEscapeProofDialog::GetMessageMap(), kEntries};
  return &map;
}

BOOL CSnifferDlg::OnInitDialog() {
  StartUpdater();
  CEscapeProofDialog::OnInitDialog();

  for (const std::string& address : m_addresses) m_interfaceCombo.AddString(QString::fromStdString(address));
  m_interfaceCombo.SetCurSel(0);

  m_imageList.Create(16, 16, ILC_COLOR32 | ILC_MASK, 0, 1);
  for (const int icon : {IDI_PACKET, IDI_HEADER, IDI_FIELD}) m_imageList.Add(LoadIconResource(icon));
  m_tree.SetImageList(&m_imageList);
  std::array<QIcon, 3> images;
  for (int i = 0; i < m_imageList.GetImageCount() && i < 3; ++i)
    images[static_cast<std::size_t>(i)] = QIcon(QPixmap::fromImage(m_imageList.Image(i)));
  m_model.SetIcons(images);
  m_tree.setModel(&m_model);

  LayoutControls();
  SetTreeFont();
  CTrafficMonitor::StartCapture();
  return 1;
}

void CSnifferDlg::StartUpdater() {
  // Only the updater shipped beside our own executable: a relative name would start
  // whatever lies in the current directory, with the monitor's privileges.
  const QString updater = QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(kUpdater);
  if (!QFileInfo(updater).isFile()) return;
  ShellExecuteA(nullptr, "open", updater.toLocal8Bit().constData(), kUpdaterArguments, nullptr, SW_SHOWNORMAL);
}

void CSnifferDlg::SetTreeFont() {
  QFont font(QStringLiteral("Lucida Console"));
  font.setStyleHint(QFont::TypeWriter);
  if (!IsMonospaced(font)) font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  // The height is the character cell's, leading included, as the font's own metrics say.
  font.setPixelSize(kTreeFontHeight);
  const int cell = QFontMetrics(font).height();
  if (cell > kTreeFontHeight) font.setPixelSize(std::max(1, kTreeFontHeight * kTreeFontHeight / cell));
  m_tree.setFont(font);
}

void CSnifferDlg::LayoutControls() {
  if (!isVisible() || !m_interfaceCombo.isVisible() || !m_interfaceGroup.isVisible() || !m_tree.isVisible()) return;
  const CRect client = GetClientRect();
  m_tree.setGeometry(client.left, client.top + kSelectorBand, client.Width(), client.Height() - kSelectorBand);
  m_tree.update();
}

std::string CSnifferDlg::SelectedInterface() const {
  const int selected = m_interfaceCombo.GetCurSel();
  return selected < 0 ? std::string() : m_interfaceCombo.GetLBText(selected).toStdString();
}

void CSnifferDlg::StopCapture() {
  CTrafficMonitor::StopCapture();
  Default();
}

void CSnifferDlg::OnSysCommand(UINT, LPARAM) { Default(); }

void CSnifferDlg::OnPaint() {
  // A child page is never minimised: of the main window's painting only the default runs.
  Default();
}

HICON CSnifferDlg::OnQueryDragIcon() {
  // Asked only of minimised windows, which a child page never is.
  return nullptr;
}

void CSnifferDlg::OnSize(UINT, int, int) {
  Default();
  LayoutControls();
}
