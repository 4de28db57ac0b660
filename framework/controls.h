#pragma once

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeView>

#include "framework/control_wnd.h"
#include "framework/win_types.h"

class CImageList;

// Push button; a multi-line button wraps its text to its width.
class CButton : public QPushButton, public CControlWnd {
 public:
  CButton();
  void PreSubclassWindow() override;
};

// Static text or picture. With SS_NOTIFY a click is reported to the dialog (STN_CLICKED):
// a press and a release of the left button on it. The second press of a double click is a
// double click, not a click, so a double click reports one click.
class CStatic : public QLabel, public CControlWnd {
 public:
  void PreSubclassWindow() override;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool m_bPressed = false;
};

// Tab strip with its pane. Only the user's changes of tab are reported (TCN_SELCHANGE),
// not those the program makes.
class CTabCtrl : public QTabWidget, public CControlWnd {
 public:
  CTabCtrl();
  int InsertItem(int index, const char* text);
  int GetCurSel() const { return currentIndex(); }
  int SetCurSel(int index);

 private:
  bool m_bProgramChange = false;
};

// Combo box; with CBS_SORT the entries are kept in text order.
class CComboBox : public QComboBox, public CControlWnd {
 public:
  void PreSubclassWindow() override;
  int AddString(const QString& text);
  int GetCount() const { return count(); }
  int GetCurSel() const { return currentIndex(); }
  int SetCurSel(int index);
  QString GetLBText(int index) const { return itemText(index); }
};

// Tree view. With TVS_HASLINES dotted lines join every item to its parent and its siblings,
// with TVS_HASBUTTONS a boxed plus or minus stands before every item that has children;
// without TVS_LINESATROOT the top-level items have neither. A template's tree control may
// also be bound to a view of another class that lays out the tree itself and draws its
// branches with DrawTreeBranches.
class CTreeCtrl : public QTreeView, public CControlWnd {
 public:
  void PreSubclassWindow() override;
  // The items' images are drawn at the size of the list's images; the model supplies them.
  void SetImageList(const CImageList* images);

 protected:
  void drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const override;
};

// Draws the lines and the button before the item `index` of the tree control `tree`, as
// styled above. `rect` holds one column of `indent` pixels per level of the item's
// indentation, its own at the right; `scrolled` is how far the content is scrolled, in
// pixels.
void DrawTreeBranches(QPainter* painter, const QWidget& tree, const QRect& rect, const QModelIndex& index, int indent,
                      QPoint scrolled, bool expanded);

struct ControlTemplate;

// Creates the control of a template inside its dialog, or puts the bound member in its place.
QWidget* CreateDialogControl(const ControlTemplate& control, QWidget* dialog, QWidget* bound);
