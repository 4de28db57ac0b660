#include "framework/list_ctrl.h"

#include <QAbstractTableModel>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <algorithm>
#include <utility>
#include <vector>

#include "framework/dc.h"
#include "framework/dialog.h"
#include "framework/header_ctrl.h"

// The rows and columns of one list: a text per cell, an item-data value per row, and the
// header items' titles, formats and image indexes.
class ListModel final : public QAbstractTableModel {
 public:
  struct Column {
    QString title;
    int format = HDF_STRING;
    int image = 0;
  };

  using QAbstractTableModel::QAbstractTableModel;

  int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : int(m_rows.size()); }
  int columnCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : int(m_columns.size());
  }

  QVariant data(const QModelIndex& index, int role) const override {
    if (role != Qt::DisplayRole || !index.isValid()) return {};
    return Text(index.row(), index.column());
  }

  Qt::ItemFlags flags(const QModelIndex& index) const override {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
  }

  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) return {};
    const Column& column = m_columns[size_t(section)];
    switch (role) {
      case Qt::DisplayRole: return column.title;
      case HeaderFormatRole: return column.format;
      case HeaderImageRole: return column.image;
      default: return {};
    }
  }

  bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value, int role) override {
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) return false;
    Column& column = m_columns[size_t(section)];
    switch (role) {
      case Qt::DisplayRole: column.title = value.toString(); break;
      case HeaderFormatRole: column.format = value.toInt(); break;
      case HeaderImageRole: column.image = value.toInt(); break;
      default: return false;
    }
    emit headerDataChanged(orientation, section, section);
    return true;
  }

  void InsertColumn(int at, Column column) {
    beginInsertColumns({}, at, at);
    m_columns.insert(m_columns.begin() + at, std::move(column));
    for (Row& row : m_rows) row.texts.insert(row.texts.begin() + at, QString());
    endInsertColumns();
  }

  void InsertRow(int at, const QString& text) {
    beginInsertRows({}, at, at);
    Row row{std::vector<QString>(m_columns.size()), 0};
    if (!row.texts.empty()) row.texts[0] = text;
    m_rows.insert(m_rows.begin() + at, std::move(row));
    endInsertRows();
  }

  QString Text(int row, int column) const { return m_rows[size_t(row)].texts[size_t(column)]; }
  void SetText(int row, int column, const QString& text) {
    m_rows[size_t(row)].texts[size_t(column)] = text;
    const QModelIndex cell = index(row, column);
    emit dataChanged(cell, cell, {Qt::DisplayRole});
  }

  LPARAM Data(int row) const { return m_rows[size_t(row)].data; }
  void SetData(int row, LPARAM data) { m_rows[size_t(row)].data = data; }

  void Clear() {
    beginResetModel();
    m_rows.clear();
    endResetModel();
  }

 private:
  struct Row {
    std::vector<QString> texts;
    LPARAM data;
  };

  std::vector<Column> m_columns;
  std::vector<Row> m_rows;
};

// Paints each cell through the list's custom drawing, and gives every row the list's height.
class CellDelegate final : public QStyledItemDelegate {
 public:
  explicit CellDelegate(CListCtrl* list) : QStyledItemDelegate(list), m_list(list) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    if (!m_list->CustomDrawCell(painter, index)) QStyledItemDelegate::paint(painter, option, index);
  }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return QSize(QStyledItemDelegate::sizeHint(option, index).width(), m_list->RowHeight());
  }

 private:
  CListCtrl* m_list;
};

CListCtrl::CListCtrl() : m_pModel(new ListModel(this)) {
  setModel(m_pModel);
  setItemDelegate(new CellDelegate(this));
  InstallHeader(new CHeaderCtrl);
  // A flat report list: no tree decoration, no editing, whole rows selected, one row height,
  // scrolled a row at a time.
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setExpandsOnDoubleClick(false);
  setIndentation(0);
  setUniformRowHeights(true);
  setEditTriggers(NoEditTriggers);
  setSelectionBehavior(SelectRows);
  setSelectionMode(ExtendedSelection);
  setVerticalScrollMode(ScrollPerItem);
  setHorizontalScrollMode(ScrollPerPixel);
  setFrameStyle(QFrame::NoFrame);
}

void CListCtrl::PreSubclassWindow() {
  const DWORD style = GetWindowStyle(this);
  setSelectionMode((style & LVS_SINGLESEL) ? SingleSelection : ExtendedSelection);
  setFrameStyle((style & WS_BORDER) ? QFrame::Box | QFrame::Plain : QFrame::NoFrame);
}

int CListCtrl::InsertColumn(int column, const QString& heading, int format, int width) {
  if (column < 0) return -1;
  column = std::min(column, m_pModel->columnCount());
  m_pModel->InsertColumn(column, {heading, HDF_STRING | (format & HDF_JUSTIFYMASK), 0});
  header()->resizeSection(column, std::max(width, 0));
  return column;
}

int CListCtrl::InsertItem(int item, const char* text) {
  if (item < 0) return -1;
  item = std::min(item, GetItemCount());
  m_pModel->InsertRow(item, QString::fromUtf8(text ? text : ""));
  return item;
}

bool CListCtrl::HasCell(int item, int subItem) const {
  return item >= 0 && item < GetItemCount() && subItem >= 0 && subItem < m_pModel->columnCount();
}

BOOL CListCtrl::SetItemText(int item, int subItem, const char* text) {
  if (!HasCell(item, subItem)) return 0;
  m_pModel->SetText(item, subItem, QString::fromUtf8(text ? text : ""));
  return 1;
}

QString CListCtrl::GetItemText(int item, int subItem) const {
  if (!HasCell(item, subItem)) return {};
  return m_pModel->Text(item, subItem);
}

BOOL CListCtrl::SetItemData(int item, LPARAM data) {
  if (item < 0 || item >= GetItemCount()) return 0;
  m_pModel->SetData(item, data);
  return 1;
}

LPARAM CListCtrl::GetItemData(int item) const { return item >= 0 && item < GetItemCount() ? m_pModel->Data(item) : 0; }

UINT CListCtrl::GetItemState(int item, UINT mask) const {
  if (item < 0 || item >= GetItemCount()) return 0;
  return selectionModel()->isRowSelected(item, {}) ? LVIS_SELECTED & mask : 0;
}

BOOL CListCtrl::DeleteAllItems() {
  m_pModel->Clear();
  // An emptied list starts again at its top.
  verticalScrollBar()->setValue(0);
  return 1;
}

int CListCtrl::GetItemCount() const { return m_pModel->rowCount(); }

DWORD CListCtrl::SetExtendedStyle(DWORD style) {
  const DWORD previous = std::exchange(m_dwExStyle, style);
  viewport()->update();
  return previous;
}

int CListCtrl::RowHeight() const { return fontMetrics().height() + 1; }

CRect CListCtrl::RowRect(int item) const {
  // The view shows the row of the scroll bar's value at its top.
  const int top = (item - verticalScrollBar()->value()) * RowHeight();
  const int left = -header()->offset();
  return CRect(left, top, left + header()->length(), top + RowHeight());
}

BOOL CListCtrl::GetSubItemRect(int item, int subItem, int area, CRect& rect) const {
  if (area != LVIR_BOUNDS || !HasCell(item, subItem)) return 0;
  rect = RowRect(item);
  if (subItem > 0) {
    rect.left = header()->sectionViewportPosition(subItem);
    rect.right = rect.left + header()->sectionSize(subItem);
  }
  return 1;
}

int CListCtrl::SubItemHitTest(LVHITTESTINFO* info) const {
  info->iItem = -1;
  info->iSubItem = -1;
  if (info->pt.y() < 0) return -1;
  const int item = verticalScrollBar()->value() + info->pt.y() / RowHeight();
  const int subItem = header()->logicalIndexAt(info->pt.x());
  if (item >= GetItemCount() || subItem < 0) return -1;
  info->iItem = item;
  info->iSubItem = subItem;
  return item;
}

CHeaderCtrl* CListCtrl::GetHeaderCtrl() const { return static_cast<CHeaderCtrl*>(header()); }

BOOL CListCtrl::OnChildNotify(NMHDR*, LRESULT*) { return 0; }

LRESULT CListCtrl::SendNotify(NMHDR* header) {
  LRESULT result = 0;
  if (OnChildNotify(header, &result)) return result;
  return SendNotifyToParent(this, header);
}

void CListCtrl::InstallHeader(CHeaderCtrl* header) {
  // The view deletes the header it replaces when that header is its child. It also turns
  // clicks on items off while the list is not sorted; the list reports them all the same.
  setHeader(header);
  header->setFont(font());
  header->setSectionsClickable(true);
  QObject::connect(header, &QHeaderView::sectionClicked, this, [this](int column) {
    NMLISTVIEW click{{this, UINT(GetDlgCtrlID(this)), LVN_COLUMNCLICK}, -1, column};
    SendNotify(&click.hdr);
  });
}

void CListCtrl::changeEvent(QEvent* event) {
  QTreeView::changeEvent(event);
  if (event->type() == QEvent::FontChange) header()->setFont(font());
}

BOOL CListCtrl::SubclassHeader(CHeaderCtrl* header) {
  if (!header || m_bHeaderSubclassed) return 0;
  // The new header takes over the items' widths and the image list; titles, formats and
  // images live in the model.
  const CHeaderCtrl* own = GetHeaderCtrl();
  std::vector<int> widths;
  for (int i = 0; i < own->count(); ++i) widths.push_back(own->sectionSize(i));
  CImageList* images = own->GetImageList();
  InstallHeader(header);
  for (int i = 0; i < int(widths.size()); ++i) header->resizeSection(i, widths[size_t(i)]);
  if (images) header->SetImageList(images);
  m_bHeaderSubclassed = true;
  return 1;
}

void CListCtrl::UnsubclassHeader() {
  if (!m_bHeaderSubclassed) return;
  CHeaderCtrl* subclassed = GetHeaderCtrl();
  subclassed->disconnect(this);
  subclassed->setParent(nullptr);
  InstallHeader(new CHeaderCtrl);
  m_bHeaderSubclassed = false;
}

void CListCtrl::InvalidateRect(const CRect& rect, BOOL update) {
  const QRect area = rect.ToQRect() & viewport()->rect();
  if (area.isEmpty() || !viewport()->isVisible()) return;
  if (update) {
    viewport()->repaint(area);
  } else {
    viewport()->update(area);
  }
}

void CListCtrl::paintEvent(QPaintEvent* event) {
  m_paintClip = event->rect();
  m_paintAnswer = -1;
  QTreeView::paintEvent(event);
}

void CListCtrl::drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  CDC dc(*painter, m_paintClip);
  // The paint's own stage is asked once, when its first row is drawn.
  if (m_paintAnswer < 0) m_paintAnswer = SendCustomDraw(CDDS_PREPAINT, &dc, 0, 0);
  m_rowAnswer = CDRF_DODEFAULT;
  if (m_paintAnswer & CDRF_NOTIFYITEMDRAW) {
    m_rowAnswer = SendCustomDraw(CDDS_ITEMPREPAINT, &dc, index.row(), 0);
    if (m_rowAnswer & CDRF_SKIPDEFAULT) return;
  }
  QTreeView::drawRow(painter, option, index);
}

BOOL CListCtrl::CustomDrawCell(QPainter* painter, const QModelIndex& index) const {
  if (!(m_rowAnswer & CDRF_NOTIFYSUBITEMDRAW)) return 0;
  CDC dc(*painter, m_paintClip);
  return (SendCustomDraw(CDDS_ITEMPREPAINT | CDDS_SUBITEM, &dc, index.row(), index.column()) & CDRF_SKIPDEFAULT) ? 1
                                                                                                                 : 0;
}

LRESULT CListCtrl::SendCustomDraw(DWORD stage, CDC* dc, int item, int subItem) const {
  // Qt paints from const members; the handlers may still change what the list owns, as
  // they may while the platform's list paints.
  auto* self = const_cast<CListCtrl*>(this);
  NMLVCUSTOMDRAW draw{
      {{self, UINT(GetDlgCtrlID(this)), NM_CUSTOMDRAW}, stage, dc, item, (stage & CDDS_ITEM) ? GetItemData(item) : 0},
      CLR_DEFAULT,
      CLR_DEFAULT,
      subItem};
  return self->SendNotify(&draw.nmcd.hdr);
}

void CListCtrl::mousePressEvent(QMouseEvent* event) {
  m_pressed.reset();
  if (event->button() == Qt::LeftButton) {
    LVHITTESTINFO hit;
    hit.pt = event->position().toPoint();
    SubItemHitTest(&hit);
    m_pressed = hit;
  }
  QTreeView::mousePressEvent(event);
}

void CListCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
  QTreeView::mouseDoubleClickEvent(event);
  // The second press of a double click starts no click of its own.
  if (event->button() == Qt::LeftButton) m_pressed.reset();
}

void CListCtrl::mouseReleaseEvent(QMouseEvent* event) {
  QTreeView::mouseReleaseEvent(event);
  if (event->button() != Qt::LeftButton) return;
  const std::optional<LVHITTESTINFO> pressed = std::exchange(m_pressed, std::nullopt);
  LVHITTESTINFO hit;
  hit.pt = event->position().toPoint();
  SubItemHitTest(&hit);
  // A press on one cell and a release on another, or outside the list after a drag, is no
  // click on either: what lies under the release may not be what the user aimed at.
  if (pressed && viewport()->rect().contains(hit.pt) && hit.iItem == pressed->iItem &&
      hit.iSubItem == pressed->iSubItem) {
    NMITEMACTIVATE click{{this, UINT(GetDlgCtrlID(this)), NM_CLICK}, hit.iItem, hit.iSubItem, hit.pt};
    SendNotify(&click.hdr);
  }
  scrollTo(currentIndex());
}

void CListCtrl::scrollTo(const QModelIndex& index, ScrollHint hint) {
  if (!m_pressed) QTreeView::scrollTo(index, hint);
}
