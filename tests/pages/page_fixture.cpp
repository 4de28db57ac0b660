#include "tests/pages/page_fixture.h"

#include <QHeaderView>
#include <QTest>

#include "firewall/com/com_runtime.h"
#include "firewall/local_registration.h"
#include "firewall/nft/enforcer.h"
#include "framework/header_ctrl.h"
#include "resources/resource.h"

namespace {

// Keeps a locked change short: the pages see it refused at once.
constexpr int kBusyTimeoutMs = 50;

QString FromUtf16(const std::u16string& text) { return QString::fromStdU16String(text); }

template <class Key>
std::vector<EntryRecord<Key>> ReadStore(const std::string& path) {
  std::unique_ptr<FirewallStore> store;
  std::vector<EntryRecord<Key>> entries;
  EXPECT_TRUE(FirewallStore::Open(path, &store).ok());
  if (store) {
    EXPECT_TRUE((store->Table<Key>().List(&entries)).ok());
  }
  return entries;
}

template <class Key>
void WriteStore(const std::string& path, const EntryRecord<Key>& entry) {
  std::unique_ptr<FirewallStore> store;
  ASSERT_TRUE(FirewallStore::Open(path, &store).ok());
  ASSERT_TRUE(store->Begin().ok());
  ASSERT_TRUE((store->Table<Key>().Put(entry)).ok());
  ASSERT_TRUE(store->Commit().ok());
}

}  // namespace

HostWindow::HostWindow() {
  m_pProgramPage = new CProgramDlg(this);
  m_pProgramPage->Create(IDD_PROGRAM_PAGE, this);
  m_pPortPage = new CPortDlg(this);
  m_pPortPage->Create(IDD_PORT_PAGE, this);
  m_pPortPage->move(0, m_pProgramPage->height());
  m_pProgramPage->show();
  m_pPortPage->show();
  resize(m_pPortPage->width(), m_pProgramPage->height() + m_pPortPage->height());

  CoInitialize(nullptr);
  InitFirewallProfile();
  ListAuthorizedApps();
  ListOpenPorts();
  show();
}

HostWindow::~HostWindow() { ReleaseFirewallProfile(); }

void HostWindow::ShowFirewallUnavailable() { ADD_FAILURE() << "the test store did not open"; }

StoreLock::StoreLock(const std::string& path) {
  EXPECT_TRUE(FirewallStore::Open(path, &m_store).ok());
  if (m_store) {
    EXPECT_TRUE(m_store->Begin().ok());
  }
}

StoreLock::~StoreLock() {
  if (m_store) m_store->Rollback();
}

void PageTest::SetUp() {
  ASSERT_TRUE(m_dir.isValid());
  ASSERT_TRUE(RegisterLocalFirewall(DatabasePath(), std::make_shared<StoreOnlyEnforcer>(), kBusyTimeoutMs).ok());
}

void PageTest::TearDown() {
  m_window.reset();
  RevokeFirewallClasses();
}

void PageTest::OpenWindow() {
  m_window = std::make_unique<HostWindow>();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
}

void PageTest::StoreApp(const std::u16string& path, const std::u16string& name, bool enabled) {
  WriteStore(DatabasePath(), AppRecord{path, name, enabled});
}

void PageTest::StorePort(LONG number, LONG protocol, const std::u16string& name, bool enabled) {
  WriteStore(DatabasePath(), PortRecord{{number, protocol}, name, enabled});
}

QStringList PageTest::StoredApps() {
  QStringList apps;
  for (const AppRecord& app : ReadStore<AppKey>(DatabasePath())) {
    apps << QStringLiteral("%1|%2|%3").arg(FromUtf16(app.name), FromUtf16(app.key)).arg(app.enabled);
  }
  return apps;
}

QStringList PageTest::StoredPorts() {
  QStringList ports;
  for (const PortRecord& port : ReadStore<PortKey>(DatabasePath())) {
    ports << QStringLiteral("%1|%2/%3|%4")
                 .arg(FromUtf16(port.name))
                 .arg(port.key.number)
                 .arg(port.key.protocol)
                 .arg(port.enabled);
  }
  return ports;
}

QStringList PageTest::HeaderItems(const CXListCtrl& list) {
  QStringList items;
  for (int i = 0; i < list.GetHeaderCtrl()->GetItemCount(); ++i) {
    char title[80] = {};
    HDITEM item;
    item.mask = HDI_TEXT | HDI_FORMAT | HDI_IMAGE | HDI_WIDTH;
    item.pszText = title;
    item.cchTextMax = sizeof title;
    list.GetHeaderCtrl()->GetItem(i, &item);
    const QString image = (item.fmt & HDF_IMAGE) ? QString::number(item.iImage) : QStringLiteral("-");
    items << QStringLiteral("%1:%2:%3").arg(QString::fromUtf8(title)).arg(item.cxy).arg(image);
  }
  return items;
}

QPoint PageTest::CellCentre(const CXListCtrl& list, int row, int column) {
  // Where the view shows the cell, not where the list says it is.
  const QPoint centre = list.visualRect(list.model()->index(row, column)).center();
  EXPECT_TRUE(list.viewport()->rect().contains(centre)) << row << "," << column;
  return centre;
}

void PageTest::ClickCell(CXListCtrl& list, int row, int column) {
  QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, CellCentre(list, row, column));
}

void PageTest::PressMoveRelease(CXListCtrl& list, QPoint press, QPoint release) {
  QTest::mousePress(list.viewport(), Qt::LeftButton, {}, press);
  QTest::mouseMove(list.viewport(), release);
  QTest::mouseRelease(list.viewport(), Qt::LeftButton, {}, release);
}

void PageTest::ClickHeader(CXListCtrl& list, int column) {
  QHeaderView* header = list.header();
  const QPoint centre(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, centre);
}

void PageTest::Click(CDialog& page, int id) { QTest::mouseClick(page.GetDlgItem(id), Qt::LeftButton); }

void PageTest::Type(CDialog& page, int id, const QString& text) {
  auto* edit = qobject_cast<QLineEdit*>(page.GetDlgItem(id));
  ASSERT_NE(edit, nullptr) << id;
  edit->clear();
  QTest::keyClicks(edit, text);
}

QString PageTest::Text(CDialog& page, int id) {
  auto* edit = qobject_cast<QLineEdit*>(page.GetDlgItem(id));
  return edit ? edit->text() : QString();
}

QStringList PageTest::Messages() const {
  QStringList texts;
  for (const RecordingServices::Box& box : m_services.boxes) texts << box.text;
  return texts;
}
