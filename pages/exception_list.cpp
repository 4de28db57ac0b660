#include "pages/exception_list.h"

#include <QWidget>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string>

#include "firewall/firewall.h"
#include "framework/header_ctrl.h"
#include "resources/resource.h"

void SetupExceptionList(CXListCtrl& list, std::initializer_list<ListColumn> columns) {
  int index = 0;
  for (const ListColumn& column : columns) {
    list.InsertColumn(index++, QString::fromUtf8(column.heading), LVCFMT_LEFT, column.width);
  }
  list.SetExtendedStyle(LVS_EX_FULLROWSELECT);
  ModifyStyle(&list, 0, LVS_REPORT);

  list.m_headerImages.Create(IDB_CHECKBOXES, 16, 3, RGB(255, 0, 255));
  CHeaderCtrl* header = list.GetHeaderCtrl();
  header->SetImageList(&list.m_headerImages);
  for (int i = 0; i < header->GetItemCount(); ++i) {
    HDITEM item;
    item.mask = HDI_FORMAT | HDI_IMAGE;
    header->GetItem(i, &item);
    item.fmt |= HDF_IMAGE;
    item.iImage = i == 0 ? 1 : 0;
    header->SetItem(i, &item);
  }
}

CellHit HitTestClick(const CXListCtrl& list, const NMHDR* click) {
  CellHit hit;
  list.HitTestCell(reinterpret_cast<const NMITEMACTIVATE*>(click)->ptAction, &hit.row, &hit.column);
  return hit;
}

CFirewall* FindMainWindow(const QWidget* page) { return dynamic_cast<CFirewall*>(page->window()); }

UniqueBstr AllocSysString(const QString& text) { return UniqueBstr(SysAllocString(text.toStdU16String().c_str())); }

int TextToNumber(const QString& text) {
  const std::string bytes = text.toStdString();
  const long number = std::strtol(bytes.c_str(), nullptr, 10);
  return int(std::clamp<long>(number, INT_MIN, INT_MAX));
}
