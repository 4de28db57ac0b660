#include "tests/controls/list_page.h"

#include <QTest>

#include "framework/data_exchange.h"
#include "framework/header_ctrl.h"
#include "resources/resource.h"

ListPage::ListPage() : CDialog(IDD_PROGRAM_PAGE) {
  Create(IDD_PROGRAM_PAGE, nullptr);
  show();
}

void ListPage::DoDataExchange(CDataExchange* pDX) { DDX_Control(pDX, IDC_PROGRAM_LIST, m_list); }

BOOL ListPage::OnInitDialog() {
  CDialog::OnInitDialog();
  const int w = m_list.width() / 5;
  m_list.InsertColumn(0, QStringLiteral("Enable"), LVCFMT_LEFT, w - 32);
  m_list.InsertColumn(1, QStringLiteral("Program"), LVCFMT_LEFT, w + 10);
  m_list.InsertColumn(2, QString(), LVCFMT_LEFT, w / 2 + 28);
  m_list.InsertColumn(3, QStringLiteral("Path"), LVCFMT_LEFT, (5 * w) / 2 - 10);
  m_list.SetExtendedStyle(LVS_EX_FULLROWSELECT);
  ModifyStyle(&m_list, 0, LVS_REPORT);

  m_list.m_headerImages.Create(IDB_CHECKBOXES, 16, 3, RGB(255, 0, 255));
  CHeaderCtrl* header = m_list.GetHeaderCtrl();
  header->SetImageList(&m_list.m_headerImages);
  for (int i = 0; i < header->GetItemCount(); ++i) {
    HDITEM item;
    item.mask = HDI_FORMAT | HDI_IMAGE;
    header->GetItem(i, &item);
    item.fmt |= HDF_IMAGE;
    item.iImage = i == 0 ? 1 : 0;
    header->SetItem(i, &item);
  }
  return 1;
}

void ListPage::AddRow(bool enabled, const char* name, const char* path) {
  const int row = m_list.GetItemCount();
  m_list.InsertItem(row, "");
  m_list.SetCellCheck(row, 0, enabled ? 1 : 0);
  m_list.SetItemText(row, 1, name);
  m_list.SetItemText(row, 2, "Remove", RGB(0, 0, 255), RGB(255, 255, 255));
  m_list.SetItemText(row, 3, path);
}

bool ListPage::Activate() {
  activateWindow();
  return QTest::qWaitForWindowActive(this);
}

QRect ListPage::Cell(int item, int subItem) const {
  CRect rect;
  m_list.GetCellRect(item, subItem, LVIR_BOUNDS, rect);
  return rect.ToQRect();
}

void ListPage::ClickCell(int item, int subItem) {
  QTest::mouseClick(m_list.viewport(), Qt::LeftButton, {}, Cell(item, subItem).center());
}

const MessageMap* ListPage::GetMessageMap() const {
  static constexpr MessageMapEntry kEntries[] = {
      OnNotify<&ListPage::OnListClick>(NM_CLICK, IDC_PROGRAM_LIST),
      OnNotify<&ListPage::OnColumnClick>(LVN_COLUMNCLICK, IDC_PROGRAM_LIST),
  };
  static const MessageMap map{CDialog::GetMessageMap(), kEntries};
  return &map;
}

void ListPage::OnListClick(NMHDR* header, LRESULT* result) {
  m_clicks.push_back(*reinterpret_cast<NMITEMACTIVATE*>(header));
  *result = 0;
}

void ListPage::OnColumnClick(NMHDR* header, LRESULT* result) {
  m_columnClicks.push_back(reinterpret_cast<NMLISTVIEW*>(header)->iSubItem);
  *result = 0;
}
