#pragma once

#include <QDialog>
#include <map>
#include <memory>
#include <vector>

#include "framework/message_map.h"
#include "framework/win_types.h"

class CDataExchange;
class CMenu;

// A dialog made from a template: a modal window (DoModal) or a child window inside another
// (Create). Its controls come from the template; its messages go through its message table.
class CDialog : public QDialog {
 public:
  explicit CDialog(int templateId, QWidget* parent = nullptr);
  ~CDialog() override;

  BOOL Create(int templateId, QWidget* parent);
  // Runs the dialog until it is ended; returns the result it was ended with.
  INT_PTR DoModal();
  void EndDialog(int result);

  BOOL UpdateData(BOOL saveAndValidate = 1);
  QWidget* GetDlgItem(int id) const;
  // The control that Tab (previous: Shift+Tab) moves to from control: the next visible,
  // enabled control with WS_TABSTOP in template order, round from the last to the first.
  // From nullptr or a widget that is no control of this dialog, the first (or last) one.
  QWidget* GetNextDlgTabItem(const QWidget* control, BOOL previous = 0) const;
  // The control that an arrow key moves to: the next one of control's group that can take
  // the focus, round within the group. A group starts at a control with WS_GROUP (or the
  // first control) and ends before the next one that has it.
  QWidget* GetNextDlgGroupItem(const QWidget* control, BOOL previous = 0) const;
  void CheckRadioButton(int firstId, int lastId, int checkId);
  UINT IsDlgButtonChecked(int id) const;
  // caption empty: the application's name.
  int MessageBox(const QString& text, const QString& caption = {}, UINT type = MB_OK);

  // The window menu, made on first use when the template gives the window one; else nullptr.
  CMenu* GetSystemMenu();
  void SetIcon(HICON icon, BOOL bigIcon);
  BOOL IsIconic() const { return isMinimized(); }
  DWORD GetStyle() const { return m_dwStyle; }
  // x, y are in the parent's client coordinates.
  BOOL SetWindowPos(int x, int y, int cx, int cy, UINT flags);
  void ShowWindow(int showCommand);
  // The client area, at the origin.
  CRect GetClientRect() const;

  // The paint event being handled, while a WM_PAINT is dispatched.
  const QPaintEvent* GetPaintEvent() const;

  // Dispatches a message through the message table, or to the default processing.
  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

  // The dialog's own keys: Tab and Shift+Tab, and the arrows on a button.
  virtual BOOL PreTranslateMessage(MSG* msg);
  BOOL IsDialogMessage(MSG* msg);

 protected:
  virtual BOOL OnInitDialog();
  virtual void DoDataExchange(CDataExchange* pDX);
  virtual const MessageMap* GetMessageMap() const;
  virtual void OnOK();
  virtual void OnCancel();
  // The default processing of the message now being dispatched.
  LRESULT Default();

  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  bool event(QEvent* event) override;

 public:
  void accept() override;
  void reject() override;

 private:
  struct Message {
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    QEvent* event = nullptr;
  };

  class ThinBorder;

  void CreateControls();
  LRESULT DefWindowProc(const Message& message);
  LRESULT Dispatch(const Message& message);

  int m_nIDTemplate;
  QWidget* m_pParentWnd;
  DWORD m_dwStyle = 0;
  std::map<int, QWidget*> m_controls;
  // Every control of the template, in its order.
  std::vector<QWidget*> m_templateOrder;
  std::unique_ptr<CMenu> m_pSystemMenu;
  // The frame of a child window with WS_BORDER; nullptr without one.
  ThinBorder* m_pBorder = nullptr;
  Message m_current;
  bool m_bEnded = false;
  bool m_bEnding = false;
  int m_nModalResult = -1;
};

// The offset of a window's client area inside it: one pixel for a window with a thin border.
QPoint ClientOrigin(const QWidget* window);

// A control reports a command (WM_COMMAND with this code) to the dialog it belongs to.
void NotifyParent(QWidget* control, UINT code);
// A control sends a notification (WM_NOTIFY) to the dialog it belongs to.
LRESULT SendNotifyToParent(QWidget* control, NMHDR* header);

// A dialog that Escape never closes or hides: a key-down of Escape is swallowed unless the
// dialog has a disabled control with the cancel id.
class CEscapeProofDialog : public CDialog {
 public:
  using CDialog::CDialog;
  BOOL PreTranslateMessage(MSG* msg) override;
};

inline constexpr int SM_CXICON = 11;
inline constexpr int SM_CYICON = 12;
int GetSystemMetrics(int index);
