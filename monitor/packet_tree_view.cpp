#include "monitor/packet_tree_view.h"

#include "framework/controls.h"
#include "framework/image_list.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

PacketTreeView::PacketTreeView() {
  setSelectionMode(SingleSelection);
  setVerticalScrollMode(ScrollPerItem);
  m_indent = style()->pixelMetric(QStyle::PM_TreeViewIndentation, nullptr, this);
  horizontalScrollBar()->setSingleStep(m_indent);
  QObject::connect(this, &QAbstractItemView::iconSizeChanged, this, [this] {
    m_rowHeight = 0;
    doItemsLayout();
  });
}

void PacketTreeView::PreSubclassWindow() { setRootIsDecorated(GetWindowStyle(this) & TVS_LINESATROOT); }

void PacketTreeView::SetImageList(const CImageList* images) {
  if (images) setIconSize(images->ImageSize());
}

void PacketTreeView::setRootIsDecorated(bool decorated) {
  m_rootIsDecorated = decorated;
  viewport()->update();
}

void PacketTreeView::setModel(QAbstractItemModel* model) {
  QObject::disconnect(m_rowsRemoved);
  QAbstractItemView::setModel(model);
  if (!model) return;
  m_rowsRemoved = QObject::connect(model, &QAbstractItemModel::rowsRemoved, this,
                                   [this](const QModelIndex& parent) { RowsRemoved(parent); });
}

void PacketTreeView::reset() {
  m_expanded.clear();
  m_contentWidth = 0;
  m_rowHeight = 0;
  m_topAfterRemoval = -1;
  Changed();
  QAbstractItemView::reset();
}

void PacketTreeView::doItemsLayout() {
  Changed();
  QAbstractItemView::doItemsLayout();
}

void PacketTreeView::Changed() { m_openValid = false; }

// ---- the rows ----

int PacketTreeView::VisibleDescendants(const QModelIndex& index) const {
  int rows = 0;
  for (int child = 0, children = model()->rowCount(index); child < children; ++child) {
    const QModelIndex item = model()->index(child, 0, index);
    rows += 1 + (isExpanded(item) ? VisibleDescendants(item) : 0);
  }
  return rows;
}

const std::vector<PacketTreeView::OpenItem>& PacketTreeView::OpenItems() const {
  if (m_openValid) return m_open;
  m_open.clear();
  for (const QPersistentModelIndex& item : m_expanded) {
    if (item.isValid() && item.parent() == rootIndex()) m_open.push_back({item.row(), VisibleDescendants(item)});
  }
  std::sort(m_open.begin(), m_open.end(), [](const OpenItem& a, const OpenItem& b) { return a.row < b.row; });
  m_openValid = true;
  return m_open;
}

int PacketTreeView::RowCount() const {
  if (!model()) return 0;
  int rows = model()->rowCount(rootIndex());
  for (const OpenItem& open : OpenItems()) rows += open.rows;
  return rows;
}

QModelIndex PacketTreeView::NthVisibleDescendant(const QModelIndex& parent, int n) const {
  for (int child = 0, children = model()->rowCount(parent); child < children; ++child) {
    const QModelIndex item = model()->index(child, 0, parent);
    if (n == 0) return item;
    --n;
    if (!isExpanded(item)) continue;
    const int below = VisibleDescendants(item);
    if (n < below) return NthVisibleDescendant(item, n);
    n -= below;
  }
  return {};
}

QModelIndex PacketTreeView::IndexOfRow(int row) const {
  if (!model() || row < 0) return {};
  int above = 0;  // rows of expanded items above
  for (const OpenItem& open : OpenItems()) {
    const int openRow = open.row + above;
    if (row <= openRow) break;
    if (row <= openRow + open.rows) {
      return NthVisibleDescendant(model()->index(open.row, 0, rootIndex()), row - openRow - 1);
    }
    above += open.rows;
  }
  return model()->index(row - above, 0, rootIndex());
}

int PacketTreeView::RowOf(const QModelIndex& index) const {
  if (!index.isValid() || index.model() != model()) return -1;
  const QModelIndex parent = index.parent();
  if (parent == rootIndex()) {
    int row = index.row();
    for (const OpenItem& open : OpenItems()) {
      if (open.row >= index.row()) break;
      row += open.rows;
    }
    return row;
  }
  if (!isExpanded(parent)) return -1;
  const int parentRow = RowOf(parent);
  if (parentRow < 0) return -1;
  int row = parentRow + 1;
  for (int sibling = 0; sibling < index.row(); ++sibling) {
    const QModelIndex item = model()->index(sibling, 0, parent);
    row += 1 + (isExpanded(item) ? VisibleDescendants(item) : 0);
  }
  return row;
}

QModelIndex PacketTreeView::indexBelow(const QModelIndex& index) const {
  if (!index.isValid()) return {};
  if (isExpanded(index) && model()->hasChildren(index)) return model()->index(0, 0, index);
  for (QModelIndex item = index; item.isValid() && item != rootIndex(); item = item.parent()) {
    if (item.row() + 1 < model()->rowCount(item.parent())) return item.siblingAtRow(item.row() + 1);
  }
  return {};
}

QModelIndex PacketTreeView::indexAbove(const QModelIndex& index) const {
  const int row = RowOf(index);
  return row > 0 ? IndexOfRow(row - 1) : QModelIndex();
}

bool PacketTreeView::isExpanded(const QModelIndex& index) const {
  return index.isValid() && std::find(m_expanded.begin(), m_expanded.end(), index) != m_expanded.end();
}

void PacketTreeView::expand(const QModelIndex& index) { SetExpanded(index, true); }

void PacketTreeView::collapse(const QModelIndex& index) { SetExpanded(index, false); }

void PacketTreeView::SetExpanded(const QModelIndex& index, bool expanded) {
  if (!index.isValid() || index.model() != model() || isExpanded(index) == expanded) return;
  if (expanded && !model()->hasChildren(index)) return;
  const QPersistentModelIndex top = IndexOfRow(TopRow());
  if (expanded) {
    m_expanded.emplace_back(index);
  } else {
    std::erase(m_expanded, index);
    // The current item does not stay out of sight in the collapsed item.
    for (QModelIndex item = currentIndex().parent(); item.isValid(); item = item.parent()) {
      if (item == index) {
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        break;
      }
    }
  }
  Changed();
  updateGeometries();
  const int topRow = RowOf(top);
  verticalScrollBar()->setValue(topRow >= 0 ? topRow : RowOf(index));
  viewport()->update();
}

// ---- geometry ----

int PacketTreeView::RowHeight() const {
  if (m_rowHeight == 0 && model() && model()->rowCount(rootIndex()) > 0) {
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QModelIndex first = model()->index(0, 0, rootIndex());
    m_rowHeight = itemDelegateForIndex(first)->sizeHint(option, first).height();
  }
  return std::max(1, m_rowHeight);
}

int PacketTreeView::PageRows() const { return std::max(1, viewport()->height() / RowHeight()); }

int PacketTreeView::TopRow() const { return verticalScrollBar()->value(); }

int PacketTreeView::Indentation(const QModelIndex& index) const {
  int levels = m_rootIsDecorated ? 1 : 0;
  for (QModelIndex item = index.parent(); item.isValid() && item != rootIndex(); item = item.parent()) ++levels;
  return levels * m_indent;
}

int PacketTreeView::horizontalOffset() const { return horizontalScrollBar()->value(); }

int PacketTreeView::verticalOffset() const { return TopRow() * RowHeight(); }

void PacketTreeView::updateGeometries() {
  const int pageRows = PageRows();
  verticalScrollBar()->setPageStep(pageRows);
  verticalScrollBar()->setRange(0, std::max(0, RowCount() - pageRows));
  horizontalScrollBar()->setPageStep(viewport()->width());
  horizontalScrollBar()->setRange(0, std::max(0, m_contentWidth - viewport()->width()));
  QAbstractItemView::updateGeometries();
}

void PacketTreeView::WidenToRows(int first, int last) {
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  int widest = m_contentWidth;
  QModelIndex index = IndexOfRow(first);
  for (int row = first; row <= last && index.isValid(); ++row, index = indexBelow(index))
    widest = std::max(widest, Indentation(index) + itemDelegateForIndex(index)->sizeHint(option, index).width());
  if (widest == m_contentWidth) return;
  m_contentWidth = widest;
  horizontalScrollBar()->setRange(0, std::max(0, m_contentWidth - viewport()->width()));
}

void PacketTreeView::scrollContentsBy(int dx, int dy) { QAbstractItemView::scrollContentsBy(dx, dy * RowHeight()); }

QRect PacketTreeView::visualRect(const QModelIndex& index) const {
  const int row = RowOf(index);
  if (row < 0) return {};
  const int x = Indentation(index) - horizontalOffset();
  const int right = std::max(viewport()->width(), m_contentWidth) - horizontalOffset();
  return QRect(x, (row - TopRow()) * RowHeight(), right - x, RowHeight());
}

QModelIndex PacketTreeView::indexAt(const QPoint& point) const {
  if (point.y() < 0) return {};
  const int row = TopRow() + point.y() / RowHeight();
  return row < RowCount() ? IndexOfRow(row) : QModelIndex();
}

void PacketTreeView::scrollTo(const QModelIndex& index, ScrollHint hint) {
  if (!index.isValid() || index.model() != model()) return;
  for (QModelIndex parent = index.parent(); parent.isValid() && parent != rootIndex(); parent = parent.parent())
    expand(parent);
  const int row = RowOf(index);
  const int pageRows = PageRows();
  int top = TopRow();
  switch (hint) {
    case PositionAtTop: top = row; break;
    case PositionAtBottom: top = row - pageRows + 1; break;
    case PositionAtCenter: top = row - pageRows / 2; break;
    case EnsureVisible:
      if (row < top) top = row;
      if (row >= top + pageRows) top = row - pageRows + 1;
      break;
  }
  verticalScrollBar()->setValue(top);
}

// ---- changes of the model ----

void PacketTreeView::rowsInserted(const QModelIndex& parent, int start, int end) {
  Changed();
  updateGeometries();
  // Rows appended below the page do not change what it shows.
  const int count = end - start + 1;
  const bool appended = parent == rootIndex() && end + 1 == model()->rowCount(parent);
  if (!appended || RowCount() - count <= TopRow() + PageRows()) viewport()->update();
  QAbstractItemView::rowsInserted(parent, start, end);
}

void PacketTreeView::rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) {
  if (parent == rootIndex()) {
    // The rows that leave and those of their expanded items are taken from above the top
    // item, unless the top item leaves with them.
    const QModelIndex top = IndexOfRow(TopRow());
    QModelIndex topLevel = top;
    while (topLevel.isValid() && topLevel.parent() != rootIndex()) topLevel = topLevel.parent();
    int leaving = end - start + 1;
    for (const OpenItem& open : OpenItems()) {
      if (open.row >= start && open.row <= end) leaving += open.rows;
    }
    if (!topLevel.isValid() || topLevel.row() < start) {
      m_topAfterRemoval = TopRow();
    } else {
      m_topAfterRemoval = topLevel.row() > end ? TopRow() - leaving : 0;
    }
  }
  QAbstractItemView::rowsAboutToBeRemoved(parent, start, end);
}

void PacketTreeView::RowsRemoved(const QModelIndex& parent) {
  std::erase_if(m_expanded, [](const QPersistentModelIndex& item) { return !item.isValid(); });
  Changed();
  updateGeometries();
  if (parent == rootIndex() && m_topAfterRemoval >= 0) {
    // Only the rows move; the horizontal position is the user's.
    verticalScrollBar()->setValue(m_topAfterRemoval);
    m_topAfterRemoval = -1;
  }
  viewport()->update();
}

// ---- selection ----

void PacketTreeView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) {
  const QRect area = rect.normalized();
  const int first = std::max(0, TopRow() + area.top() / RowHeight());
  const int last = std::min(RowCount() - 1, TopRow() + area.bottom() / RowHeight());
  QItemSelection selection;
  QModelIndex index = IndexOfRow(first);
  for (int row = first; row <= last && index.isValid(); ++row, index = indexBelow(index))
    selection.select(index, index);
  selectionModel()->select(selection, command);
}

QRegion PacketTreeView::visualRegionForSelection(const QItemSelection& selection) const {
  QRegion region;
  const int firstShown = TopRow(), lastShown = TopRow() + PageRows();
  for (const QItemSelectionRange& range : selection) {
    const QModelIndex bottom = range.bottomRight();
    const int first = RowOf(range.topLeft());
    const int lastRow = RowOf(bottom);
    if (first < 0 || lastRow < 0) continue;
    const int last = lastRow + (isExpanded(bottom) ? VisibleDescendants(bottom) : 0);
    const int from = std::max(first, firstShown), to = std::min(last, lastShown);
    if (from > to) continue;
    region += QRect(0, (from - TopRow()) * RowHeight(), viewport()->width(), (to - from + 1) * RowHeight());
  }
  return region;
}

// ---- painting ----

void PacketTreeView::paintEvent(QPaintEvent* event) {
  const int rows = RowCount();
  if (rows == 0) return;
  const int height = RowHeight();
  const int first = TopRow() + std::max(0, event->rect().top()) / height;
  const int last = std::min(rows - 1, TopRow() + event->rect().bottom() / height);
  WidenToRows(first, last);

  QPainter painter(viewport());
  QStyleOptionViewItem base;
  initViewItemOption(&base);
  base.viewItemPosition = QStyleOptionViewItem::OnlyOne;
  const QModelIndex current = currentIndex();
  const int position = -horizontalOffset();
  const int width = std::max(viewport()->width(), m_contentWidth);
  QModelIndex index = IndexOfRow(first);
  for (int row = first; row <= last && index.isValid(); ++row, index = indexBelow(index)) {
    QStyleOptionViewItem option = base;
    const int y = (row - TopRow()) * height;
    const bool expanded = isExpanded(index);
    if (expanded) option.state |= QStyle::State_Open;
    if (model()->hasChildren(index)) option.state |= QStyle::State_Children;
    if (index.row() + 1 < model()->rowCount(index.parent())) option.state |= QStyle::State_Sibling;
    if (selectionModel()->isSelected(index)) option.state |= QStyle::State_Selected;
    if (hasFocus() && index == current) option.state |= QStyle::State_HasFocus;
    if (option.state & QStyle::State_Enabled) {
      if (!(model()->flags(index) & Qt::ItemIsEnabled)) {
        option.state &= ~QStyle::State_Enabled;
        option.palette.setCurrentColorGroup(QPalette::Disabled);
      } else {
        option.palette.setCurrentColorGroup((option.state & QStyle::State_Active) ? QPalette::Active
                                                                                  : QPalette::Inactive);
      }
    }

    // The row's background under the branches and the item, then the branches.
    const int indent = Indentation(index);
    const QRect branches(position, y, indent, height);
    option.rect = branches;
    if (style()->styleHint(QStyle::SH_ItemView_ShowDecorationSelected, &option, this))
      style()->drawPrimitive(QStyle::PE_PanelItemViewRow, &option, &painter, this);
    const QStyle::State state = option.state;
    option.state &= ~QStyle::State_Selected;
    option.rect = QRect(position + indent, y, width - indent, height);
    style()->drawPrimitive(QStyle::PE_PanelItemViewRow, &option, &painter, this);
    option.state = state;
    if (m_indent != 0)
      DrawTreeBranches(&painter, *this, branches, index, m_indent, {horizontalOffset(), verticalOffset()}, expanded);
    itemDelegateForIndex(index)->paint(&painter, option, index);
  }
}

// ---- the user ----

bool PacketTreeView::HitsButton(const QModelIndex& index, QPoint point) const {
  if (!index.isValid() || !(GetWindowStyle(this) & TVS_HASBUTTONS) || !model()->hasChildren(index)) return false;
  // The button stands in the item's own column of the indentation, absent at an
  // undecorated top level.
  const int right = Indentation(index) - horizontalOffset();
  return right - m_indent >= -horizontalOffset() && point.x() >= right - m_indent && point.x() < right;
}

void PacketTreeView::mousePressEvent(QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  const QModelIndex index = indexAt(point);
  if (event->button() == Qt::LeftButton && HitsButton(index, point)) {
    SetExpanded(index, !isExpanded(index));
    event->accept();
    return;
  }
  QAbstractItemView::mousePressEvent(event);
}

void PacketTreeView::mouseDoubleClickEvent(QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  const QModelIndex index = indexAt(point);
  if (HitsButton(index, point)) {
    // The second press on a button toggles again, like the first.
    mousePressEvent(event);
    return;
  }
  QAbstractItemView::mouseDoubleClickEvent(event);
  if (event->button() == Qt::LeftButton && index.isValid()) SetExpanded(index, !isExpanded(index));
}

void PacketTreeView::keyboardSearch(const QString& text) {
  if (!model() || text.isEmpty()) return;
  const bool goesOn = m_sinceTyped.isValid() && m_sinceTyped.elapsed() < QApplication::keyboardInputInterval();
  m_typed = goesOn ? m_typed + text : text;
  m_sinceTyped.start();
  // The row below, or the first one after the last.
  const auto next = [this](const QModelIndex& index) {
    const QModelIndex below = indexBelow(index);
    return below.isValid() ? below : model()->index(0, 0);
  };
  // A search that goes on may stay on the current row; a new one starts below it.
  QModelIndex index = currentIndex().isValid() ? currentIndex() : model()->index(0, 0);
  if (!goesOn && index.isValid()) index = next(index);
  for (int looked = 0; looked < kSearchRows && index.isValid(); ++looked, index = next(index)) {
    if (model()->data(index).toString().startsWith(m_typed, Qt::CaseInsensitive)) {
      setCurrentIndex(index);
      return;
    }
  }
}

void PacketTreeView::keyPressEvent(QKeyEvent* event) {
  const QModelIndex current = currentIndex();
  if (current.isValid() && (event->key() == Qt::Key_Plus || event->key() == Qt::Key_Minus)) {
    SetExpanded(current, event->key() == Qt::Key_Plus);
    event->accept();
    return;
  }
  QAbstractItemView::keyPressEvent(event);
}

QModelIndex PacketTreeView::moveCursor(CursorAction action, Qt::KeyboardModifiers) {
  const int rows = RowCount();
  if (rows == 0) return {};
  QModelIndex current = currentIndex();
  // A current item inside a collapsed one counts as that one.
  while (current.isValid() && RowOf(current) < 0) current = current.parent();
  if (!current.isValid()) return IndexOfRow(0);
  const int row = RowOf(current);
  switch (action) {
    case MoveUp:
    case MovePrevious: return IndexOfRow(std::max(0, row - 1));
    case MoveDown:
    case MoveNext: return IndexOfRow(std::min(rows - 1, row + 1));
    case MovePageUp: return IndexOfRow(std::max(0, row - PageRows()));
    case MovePageDown: return IndexOfRow(std::min(rows - 1, row + PageRows()));
    case MoveHome: return IndexOfRow(0);
    case MoveEnd: return IndexOfRow(rows - 1);
    case MoveLeft:
      if (isExpanded(current)) {
        collapse(current);
        return current;
      }
      return current.parent() != rootIndex() ? current.parent() : current;
    case MoveRight:
      if (!model()->hasChildren(current)) return current;
      if (!isExpanded(current)) {
        expand(current);
        return current;
      }
      return model()->index(0, 0, current);
  }
  return current;
}

void PacketTreeView::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
    m_rowHeight = 0;
    m_contentWidth = 0;
    doItemsLayout();
  }
  QAbstractItemView::changeEvent(event);
}
