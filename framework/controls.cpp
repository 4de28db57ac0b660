#include "framework/controls.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QRadioButton>
#include <utility>

#include "framework/dialog.h"
#include "framework/dialog_units.h"
#include "framework/image_list.h"
#include "framework/list_ctrl.h"
#include "resources/dialog_template.h"
#include "resources/images.h"

namespace {

constexpr char kIdProperty[] = "brenvoControlId";
constexpr char kStyleProperty[] = "brenvoWindowStyle";

// Breaks text into lines that fit the width, at blanks.
QString WrapToWidth(const QString& text, const QFontMetrics& metrics, int width) {
  QStringList lines;
  QString line;
  for (const QString& word : text.split(u' ', Qt::SkipEmptyParts)) {
    const QString candidate = line.isEmpty() ? word : line + u' ' + word;
    if (!line.isEmpty() && metrics.horizontalAdvance(candidate) > width) {
      lines << line;
      line = word;
    } else {
      line = candidate;
    }
  }
  if (!line.isEmpty()) lines << line;
  return lines.join(u'\n');
}

template <class Widget>
Widget* Bound(QWidget* bound, const ControlTemplate& control) {
  auto* widget = dynamic_cast<Widget*>(bound);
  if (!widget) qFatal("control %d is bound to a member of the wrong class", control.id);
  return widget;
}

template <class Widget>
Widget* Adopt(QWidget* bound, const ControlTemplate& control) {
  return bound ? Bound<Widget>(bound, control) : new Widget;
}

}  // namespace

int GetDlgCtrlID(const QWidget* control) {
  const QVariant id = control->property(kIdProperty);
  return id.isValid() ? id.toInt() : 0;
}

DWORD GetWindowStyle(const QWidget* control) { return control->property(kStyleProperty).toUInt(); }

void SetDlgCtrlID(QWidget* control, int id) { control->setProperty(kIdProperty, id); }

void SetWindowStyle(QWidget* control, DWORD style) { control->setProperty(kStyleProperty, style); }

void ModifyStyle(QWidget* control, DWORD remove, DWORD add) {
  SetWindowStyle(control, (GetWindowStyle(control) & ~remove) | add);
}

CButton::CButton() {
  QObject::connect(this, &QPushButton::clicked, this, [this] { NotifyParent(this, BN_CLICKED); });
}

void CButton::PreSubclassWindow() {
  if (GetWindowStyle(this) & BS_MULTILINE) setText(WrapToWidth(text(), fontMetrics(), width() - 6));
}

void CStatic::PreSubclassWindow() {
  const DWORD style = GetWindowStyle(this);
  setAlignment(((style & SS_RIGHT) ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop);
  setTextFormat(Qt::PlainText);
  setWordWrap(true);
  if (style & SS_CENTERIMAGE) setAlignment(Qt::AlignCenter);
  // Static controls let mouse clicks through unless they report them.
  setAttribute(Qt::WA_TransparentForMouseEvents, !(style & SS_NOTIFY));
}

void CStatic::mousePressEvent(QMouseEvent* event) {
  QLabel::mousePressEvent(event);
  m_bPressed = event->button() == Qt::LeftButton;
}

void CStatic::mouseDoubleClickEvent(QMouseEvent* event) {
  // The base takes the double click for a press; here it starts no click.
  QLabel::mouseDoubleClickEvent(event);
  m_bPressed = false;
}

void CStatic::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() != Qt::LeftButton || !std::exchange(m_bPressed, false)) return;
  if (rect().contains(event->position().toPoint())) NotifyParent(this, STN_CLICKED);
}

CTabCtrl::CTabCtrl() {
  QObject::connect(this, &QTabWidget::currentChanged, this, [this] {
    if (m_bProgramChange) return;
    NMHDR header{this, UINT(GetDlgCtrlID(this)), TCN_SELCHANGE};
    SendNotifyToParent(this, &header);
  });
}

int CTabCtrl::InsertItem(int index, const char* text) {
  m_bProgramChange = true;
  // The tab control only shows the tabs; the pages are separate windows laid over its pane.
  const int inserted = insertTab(index, new QWidget, QString::fromUtf8(text));
  m_bProgramChange = false;
  return inserted;
}

int CTabCtrl::SetCurSel(int index) {
  const int previous = currentIndex();
  m_bProgramChange = true;
  setCurrentIndex(index);
  m_bProgramChange = false;
  return previous;
}

void CComboBox::PreSubclassWindow() { setEditable(true); }

int CComboBox::AddString(const QString& text) {
  int index = count();
  if (GetWindowStyle(this) & CBS_SORT) {
    index = 0;
    while (index < count() && QString::compare(itemText(index), text, Qt::CaseInsensitive) <= 0) ++index;
  }
  insertItem(index, text);
  return index;
}

int CComboBox::SetCurSel(int index) {
  setCurrentIndex(index);
  return currentIndex();
}

void CTreeCtrl::PreSubclassWindow() {
  setHeaderHidden(true);
  setUniformRowHeights(true);
  setRootIsDecorated(GetWindowStyle(this) & TVS_LINESATROOT);
}

void CTreeCtrl::SetImageList(const CImageList* images) {
  if (images) setIconSize(images->ImageSize());
}

void CTreeCtrl::drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const {
  DrawTreeBranches(painter, *this, rect, index, indentation(), {horizontalOffset(), verticalOffset()},
                   isExpanded(index));
}

void DrawTreeBranches(QPainter* painter, const QWidget& tree, const QRect& rect, const QModelIndex& index, int indent,
                      QPoint scrolled, bool expanded) {
  const DWORD style = GetWindowStyle(&tree);
  const QAbstractItemModel* model = index.model();
  const int middle = rect.top() + rect.height() / 2;
  // The lines are dotted on the points whose content coordinates add up to an even number,
  // so that the dots of neighbouring rows and levels meet whatever the scrolling.
  QList<QPoint> dots;
  const auto dotted = [&](QPoint from, QPoint to) {
    for (int x = from.x(); x <= to.x(); ++x) {
      for (int y = from.y(); y <= to.y(); ++y) {
        if (((x + scrolled.x() + y + scrolled.y()) & 1) == 0) dots << QPoint(x, y);
      }
    }
  };

  // rect holds one column per level of the item's indentation, its own at the right; a
  // level left out of the indentation (the top level without TVS_LINESATROOT) draws nothing.
  const int ownLeft = rect.right() + 1 - indent;
  QModelIndex level = index;
  for (int left = ownLeft; (style & TVS_HASLINES) && left >= rect.left() && level.isValid();
       left -= indent, level = level.parent()) {
    const int centre = left + indent / 2;
    const bool lastSibling = level.row() + 1 >= model->rowCount(level.parent());
    if (left == ownLeft) {
      dotted({centre, rect.top()}, {centre, lastSibling ? middle : rect.bottom()});
      dotted({centre, middle}, {left + indent - 1, middle});
    } else if (!lastSibling) {
      dotted({centre, rect.top()}, {centre, rect.bottom()});
    }
  }
  painter->save();
  painter->setPen(tree.palette().color(QPalette::Dark));
  painter->drawPoints(dots);

  if ((style & TVS_HASBUTTONS) && ownLeft >= rect.left() && model->hasChildren(index)) {
    // A 9-pixel box over the lines, with a minus, and a plus while the item is collapsed.
    const QPoint centre(ownLeft + indent / 2, middle);
    const QRect box(centre - QPoint(4, 4), QSize(9, 9));
    painter->fillRect(box, tree.palette().color(QPalette::Base));
    painter->drawRect(box.adjusted(0, 0, -1, -1));
    painter->setPen(tree.palette().color(QPalette::Text));
    painter->drawLine(centre - QPoint(2, 0), centre + QPoint(2, 0));
    if (!expanded) painter->drawLine(centre - QPoint(0, 2), centre + QPoint(0, 2));
  }
  painter->restore();
}

QWidget* CreateDialogControl(const ControlTemplate& control, QWidget* dialog, QWidget* bound) {
  QWidget* widget = nullptr;
  const QString text = QString::fromUtf8(control.text);
  switch (control.kind) {
    case ControlKind::PushButton:
    case ControlKind::DefPushButton: {
      auto* button = Adopt<CButton>(bound, control);
      button->setText(text);
      button->setDefault(control.kind == ControlKind::DefPushButton);
      widget = button;
      break;
    }
    case ControlKind::AutoRadioButton: {
      auto* radio = Adopt<QRadioButton>(bound, control);
      radio->setText(text);
      QObject::connect(radio, &QRadioButton::clicked, radio, [radio] { NotifyParent(radio, BN_CLICKED); });
      widget = radio;
      break;
    }
    case ControlKind::GroupBox: {
      auto* group = Adopt<QGroupBox>(bound, control);
      group->setTitle(text);
      group->setFocusPolicy(Qt::NoFocus);
      group->setAttribute(Qt::WA_TransparentForMouseEvents);
      widget = group;
      break;
    }
    case ControlKind::StaticText:
    case ControlKind::StaticIcon:
    case ControlKind::StaticBitmap: {
      auto* label = Adopt<CStatic>(bound, control);
      if (control.kind == ControlKind::StaticText) label->setText(text);
      if (control.kind == ControlKind::StaticIcon) label->setPixmap(LoadIconResource(control.resource).pixmap(32, 32));
      if (control.kind == ControlKind::StaticBitmap) {
        label->setPixmap(QPixmap::fromImage(LoadBitmapResource(control.resource)));
      }
      widget = label;
      break;
    }
    case ControlKind::Edit: {
      auto* edit = Adopt<QLineEdit>(bound, control);
      edit->setReadOnly(control.style & ES_READONLY);
      edit->setText(text);
      widget = edit;
      break;
    }
    case ControlKind::ComboBox: widget = Adopt<CComboBox>(bound, control); break;
    case ControlKind::TreeView:
      // A member may be any view that lays out the tree itself.
      widget = bound ? static_cast<QWidget*>(Bound<QAbstractItemView>(bound, control)) : new CTreeCtrl;
      break;
    case ControlKind::TabControl: widget = Adopt<CTabCtrl>(bound, control); break;
    case ControlKind::ListView: widget = Adopt<CListCtrl>(bound, control); break;
  }

  widget->setParent(dialog);
  // Like the platform's dialog manager, give every control the dialog's font outright
  // rather than by inheritance, which a style sheet would cut.
  widget->setFont(dialog->font());
  SetDlgCtrlID(widget, control.id);
  SetWindowStyle(widget, control.style);
  const QRect area = DialogUnitsToPixels(control.x, control.y, control.cx, control.cy);
  widget->setGeometry(area.translated(ClientOrigin(dialog)));
  widget->setEnabled(!(control.style & WS_DISABLED));
  if (control.kind == ControlKind::StaticText || control.kind == ControlKind::StaticIcon ||
      control.kind == ControlKind::StaticBitmap) {
    widget->setFocusPolicy(Qt::NoFocus);
  } else if (!(control.style & WS_TABSTOP) && widget->focusPolicy() != Qt::NoFocus) {
    // Tab reaches only the tab stops; a click still gives the others the focus.
    widget->setFocusPolicy(Qt::ClickFocus);
  }
  if (auto* wnd = dynamic_cast<CControlWnd*>(widget)) wnd->PreSubclassWindow();
  widget->setVisible(control.style & WS_VISIBLE);
  return widget;
}
