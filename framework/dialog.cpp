#include "framework/dialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFontInfo>
#include <QKeyEvent>
#include <QPainter>
#include <QPointer>
#include <QRadioButton>
#include <algorithm>
#include <span>

#include "framework/controls.h"
#include "framework/data_exchange.h"
#include "framework/dialog_units.h"
#include "framework/menu.h"
#include "framework/modal_services.h"
#include "resources/dialog_template.h"
#include "resources/resource.h"

namespace {

constexpr UINT HTCLIENT = 1;
constexpr UINT WM_MOUSEMOVE = 0x0200;

WPARAM VirtualKey(const QKeyEvent* event) {
  const int key = event->key();
  switch (key) {
    case Qt::Key_Escape: return VK_ESCAPE;
    case Qt::Key_Return:
    case Qt::Key_Enter: return VK_RETURN;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return VK_TAB;
    case Qt::Key_Left: return VK_LEFT;
    case Qt::Key_Up: return VK_UP;
    case Qt::Key_Right: return VK_RIGHT;
    case Qt::Key_Down: return VK_DOWN;
    default:
      // Digits and letters have the same codes in both; no other key is the dialogs' business.
      return (key >= Qt::Key_0 && key <= Qt::Key_9) || (key >= Qt::Key_A && key <= Qt::Key_Z) ? WPARAM(key) : 0;
  }
}

bool CanTakeFocus(const QWidget* control) {
  return !control->isHidden() && control->isEnabled() && control->focusPolicy() != Qt::NoFocus;
}

// The first control after controls[from] (before it, with previous) that passes the test,
// going round; from may lie one past either end. nullptr when none passes.
template <class Test>
QWidget* NextRound(std::span<QWidget* const> controls, std::ptrdiff_t from, bool previous, Test test) {
  const auto n = std::ssize(controls);
  for (std::ptrdiff_t step = 1; step <= n; ++step) {
    QWidget* candidate = controls[size_t((from + (previous ? n - step : step)) % n)];
    if (test(candidate)) return candidate;
  }
  return nullptr;
}

// Gives every dialog the first look at key presses meant for it or its controls, innermost
// dialog first (PreTranslateMessage), and opens a window's menu on Alt+Space.
class MessageFilter final : public QObject {
 public:
  // Once per application object: a process may run more than one in turn.
  static void Install() {
    static QPointer<QCoreApplication> installedOn;
    if (installedOn == qApp) return;
    qApp->installEventFilter(new MessageFilter(qApp));
    installedOn = qApp;
  }

 private:
  explicit MessageFilter(QObject* parent) : QObject(parent) {}

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() != QEvent::KeyPress || !object->isWidgetType()) return false;
    auto* target = static_cast<QWidget*>(object);
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Space && key->modifiers() == Qt::AltModifier) {
      auto* dialog = dynamic_cast<CDialog*>(target->window());
      if (dialog && dialog->GetSystemMenu()) {
        dialog->GetSystemMenu()->Popup(dialog->mapToGlobal(QPoint(0, 0)));
        return true;
      }
    }
    MSG msg{target, WM_KEYDOWN, VirtualKey(key), 0};
    for (QWidget* w = target; w; w = w->parentWidget()) {
      if (auto* dialog = dynamic_cast<CDialog*>(w); dialog && dialog->PreTranslateMessage(&msg)) return true;
      if (w->isWindow()) break;
    }
    return false;
  }
};

QFont DialogFont(const DialogTemplate& t) {
  static const bool substituted = [] {
    QFont::insertSubstitutions(QStringLiteral("MS Shell Dlg"),
                               {QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
    return true;
  }();
  Q_UNUSED(substituted);
  QFont font(QString::fromUtf8(t.fontName));
  font.setPointSize(t.fontPointSize);
  // The templates were laid out for a narrower face than the fallbacks: condense those a
  // little so that every text keeps inside its control ("Port Number:" in 68 pixels).
  if (QFontInfo(font).family() != QStringLiteral("Tahoma")) font.setStretch(88);
  return font;
}

// A child window with WS_BORDER has a one-pixel frame around its client area. (On a
// top-level window the same bit is part of the caption, which the window manager draws.)
bool HasThinBorder(DWORD style) { return (style & WS_CHILD) && (style & WS_BORDER); }

QSize TemplateClientSize(const DialogTemplate& t) {
  return QSize(DialogUnitsToPixelsX(t.cx), DialogUnitsToPixelsY(t.cy));
}

}  // namespace

// The frame lies outside the client area, where no child of the window may paint; as Qt
// lets children paint over all of their parent, the frame is a widget of its own that
// stays above them and takes only the frame's pixels (and the clicks on them).
class CDialog::ThinBorder final : public QWidget {
 public:
  explicit ThinBorder(QWidget* window) : QWidget(window) { Fit(); }

  void Fit() {
    setGeometry(parentWidget()->rect());
    setMask(QRegion(rect()).subtracted(QRegion(rect().adjusted(1, 1, -1, -1))));
    raise();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Shadow));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
  }
};

QPoint ClientOrigin(const QWidget* window) {
  auto* dialog = dynamic_cast<const CDialog*>(window);
  return dialog && HasThinBorder(dialog->GetStyle()) ? QPoint(1, 1) : QPoint(0, 0);
}

void NotifyParent(QWidget* control, UINT code) {
  if (auto* dialog = dynamic_cast<CDialog*>(control->parentWidget())) {
    dialog->SendMessage(WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), int(code)), reinterpret_cast<LPARAM>(control));
  }
}

LRESULT SendNotifyToParent(QWidget* control, NMHDR* header) {
  auto* dialog = dynamic_cast<CDialog*>(control->parentWidget());
  return dialog ? dialog->SendMessage(WM_NOTIFY, header->idFrom, reinterpret_cast<LPARAM>(header)) : 0;
}

int GetSystemMetrics(int index) { return index == SM_CXICON || index == SM_CYICON ? 32 : 0; }

CDialog::CDialog(int templateId, QWidget* parent) : m_nIDTemplate(templateId), m_pParentWnd(parent) {}

CDialog::~CDialog() = default;

BOOL CDialog::Create(int templateId, QWidget* parent) {
  const DialogTemplate* t = FindDialogTemplate(templateId);
  if (!t) return 0;
  m_nIDTemplate = templateId;
  setParent(parent, Qt::Widget);
  m_dwStyle = t->style;
  setFont(DialogFont(*t));
  const QPoint border = ClientOrigin(this);
  resize(TemplateClientSize(*t) + QSize(2 * border.x(), 2 * border.y()));
  if (HasThinBorder(m_dwStyle) && !m_pBorder) m_pBorder = new ThinBorder(this);
  CreateControls();
  OnInitDialog();
  setVisible(m_dwStyle & WS_VISIBLE);
  return 1;
}

INT_PTR CDialog::DoModal() {
  const DialogTemplate* t = FindDialogTemplate(m_nIDTemplate);
  if (!t) return -1;
  setParent(m_pParentWnd ? m_pParentWnd->window() : nullptr, Qt::Dialog | Qt::CustomizeWindowHint |
                                                                 Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                                                 Qt::WindowCloseButtonHint);
  m_dwStyle = t->style;
  setWindowTitle(QString::fromUtf8(t->caption ? t->caption : ""));
  setFont(DialogFont(*t));
  setFixedSize(TemplateClientSize(*t));
  m_bEnded = false;
  CreateControls();
  OnInitDialog();
  // A dialog ended by its own initialisation is never shown.
  if (!m_bEnded) exec();
  return m_nModalResult;
}

void CDialog::EndDialog(int result) {
  m_bEnded = true;
  m_nModalResult = result;
  m_bEnding = true;
  QDialog::done(result);
  m_bEnding = false;
}

void CDialog::CreateControls() {
  MessageFilter::Install();
  const DialogTemplate* t = FindDialogTemplate(m_nIDTemplate);
  CDataExchange binding(this, CDataExchange::Mode::BindControls);
  DoDataExchange(&binding);
  for (const ControlTemplate& control : t->controls) {
    const auto bound = binding.m_bound.find(control.id);
    QWidget* widget = CreateDialogControl(control, this, bound == binding.m_bound.end() ? nullptr : bound->second);
    // The first control of a template lies on top of the others.
    widget->lower();
    if (control.id != IDC_STATIC) m_controls[control.id] = widget;
    m_templateOrder.push_back(widget);
  }
}

BOOL CDialog::OnInitDialog() { return UpdateData(0); }

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
  CDataExchange dx(this,
                   saveAndValidate ? CDataExchange::Mode::ControlsToMembers : CDataExchange::Mode::MembersToControls);
  DoDataExchange(&dx);
  return 1;
}

QWidget* CDialog::GetDlgItem(int id) const {
  const auto found = m_controls.find(id);
  return found == m_controls.end() ? nullptr : found->second;
}

QWidget* CDialog::GetNextDlgTabItem(const QWidget* control, BOOL previous) const {
  const auto found = std::ranges::find(m_templateOrder, control);
  std::ptrdiff_t from = found - m_templateOrder.begin();
  // From outside the controls, the search enters at the first control (going back, the last).
  if (found == m_templateOrder.end()) from = previous ? std::ssize(m_templateOrder) : -1;
  return NextRound(m_templateOrder, from, previous,
                   [](const QWidget* w) { return (GetWindowStyle(w) & WS_TABSTOP) && CanTakeFocus(w); });
}

QWidget* CDialog::GetNextDlgGroupItem(const QWidget* control, BOOL previous) const {
  const auto found = std::ranges::find(m_templateOrder, control);
  if (found == m_templateOrder.end()) return nullptr;
  const auto startsGroup = [](const QWidget* w) { return (GetWindowStyle(w) & WS_GROUP) != 0; };
  auto first = found;
  while (first != m_templateOrder.begin() && !startsGroup(*first)) --first;
  auto last = found + 1;
  while (last != m_templateOrder.end() && !startsGroup(*last)) ++last;
  return NextRound(std::span(first, last), found - first, previous, CanTakeFocus);
}

void CDialog::CheckRadioButton(int firstId, int lastId, int checkId) {
  // Checking one automatic radio button clears the others of its group.
  if (checkId < firstId || checkId > lastId) return;
  if (auto* button = qobject_cast<QAbstractButton*>(GetDlgItem(checkId))) button->setChecked(true);
}

UINT CDialog::IsDlgButtonChecked(int id) const {
  auto* button = qobject_cast<QAbstractButton*>(GetDlgItem(id));
  return button && button->isChecked() ? 1 : 0;
}

int CDialog::MessageBox(const QString& text, const QString& caption, UINT type) {
  return Services().MessageBox(this, text, caption.isEmpty() ? QCoreApplication::applicationName() : caption, type);
}

CMenu* CDialog::GetSystemMenu() {
  if (!(m_dwStyle & WS_SYSMENU) || !isWindow()) return nullptr;
  if (!m_pSystemMenu) {
    m_pSystemMenu = std::make_unique<CMenu>(this);
    m_pSystemMenu->AppendMenu(MF_STRING, SC_CLOSE, QStringLiteral("&Close\tAlt+F4"));
  }
  return m_pSystemMenu.get();
}

void CDialog::SetIcon(HICON icon, BOOL) {
  if (icon) setWindowIcon(*icon);
}

BOOL CDialog::SetWindowPos(int x, int y, int cx, int cy, UINT flags) {
  if (!(flags & SWP_NOMOVE)) move(ClientOrigin(parentWidget()) + QPoint(x, y));
  if (!(flags & SWP_NOSIZE)) resize(cx, cy);
  if (flags & SWP_SHOWWINDOW) show();
  return 1;
}

void CDialog::ShowWindow(int showCommand) { setVisible(showCommand != SW_HIDE); }

CRect CDialog::GetClientRect() const {
  const QPoint border = ClientOrigin(this);
  return CRect(0, 0, width() - 2 * border.x(), height() - 2 * border.y());
}

BOOL CDialog::PreTranslateMessage(MSG* msg) { return IsDialogMessage(msg); }

BOOL CDialog::IsDialogMessage(MSG* msg) {
  const Qt::KeyboardModifiers modifiers = QGuiApplication::keyboardModifiers();
  if (msg->message != WM_KEYDOWN || (modifiers & (Qt::ControlModifier | Qt::AltModifier)) ||
      !(msg->hwnd == this || isAncestorOf(msg->hwnd))) {
    return 0;
  }
  // The control the key went to; the key's target may be a part of it, such as a tab bar.
  const auto holder = std::ranges::find_if(m_templateOrder, [&](const QWidget* control) {
    return control == msg->hwnd || control->isAncestorOf(msg->hwnd);
  });
  QWidget* focus = holder == m_templateOrder.end() ? nullptr : *holder;

  if (msg->wParam == VK_TAB) {
    const bool previous = modifiers & Qt::ShiftModifier;
    QWidget* next = GetNextDlgTabItem(focus, previous);
    if (!next) return 0;
    next->setFocus(previous ? Qt::BacktabFocusReason : Qt::TabFocusReason);
    return 1;
  }
  // Edits, lists, trees, tab and combo boxes move with the arrows themselves; buttons leave
  // them to the dialog, which moves within the button's group.
  const bool arrow =
      msg->wParam == VK_LEFT || msg->wParam == VK_UP || msg->wParam == VK_RIGHT || msg->wParam == VK_DOWN;
  if (!arrow || !qobject_cast<QAbstractButton*>(focus)) return 0;
  QWidget* next = GetNextDlgGroupItem(focus, msg->wParam == VK_LEFT || msg->wParam == VK_UP);
  if (!next) return 0;
  next->setFocus(Qt::OtherFocusReason);
  // An automatic radio button that the arrows reach is checked, as a click would check it.
  if (auto* radio = qobject_cast<QRadioButton*>(next); radio && !radio->isChecked()) radio->click();
  return 1;
}

const MessageMap* CDialog::GetMessageMap() const {
  static const MessageMap map{nullptr, {}};
  return &map;
}

void CDialog::OnOK() {
  UpdateData(1);
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

LRESULT CDialog::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return Dispatch({message, wParam, lParam, nullptr});
}

LRESULT CDialog::Dispatch(const Message& message) {
  const Message outer = m_current;
  m_current = message;
  const MessageMapEntry* entry = FindMessageEntry(GetMessageMap(), message.message, message.wParam, message.lParam);
  const LRESULT result = entry ? entry->invoke(this, message.wParam, message.lParam) : DefWindowProc(message);
  m_current = outer;
  return result;
}

const QPaintEvent* CDialog::GetPaintEvent() const {
  return m_current.message == WM_PAINT ? static_cast<const QPaintEvent*>(m_current.event) : nullptr;
}

LRESULT CDialog::Default() { return DefWindowProc(m_current); }

LRESULT CDialog::DefWindowProc(const Message& message) {
  switch (message.message) {
    case WM_COMMAND:
      if (LOWORD(message.wParam) == IDOK) OnOK();
      if (LOWORD(message.wParam) == IDCANCEL) OnCancel();
      return 0;
    case WM_SYSCOMMAND:
      if ((message.wParam & 0xFFF0) == SC_CLOSE) SendMessage(WM_CLOSE);
      return 0;
    case WM_CLOSE: return SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    default: return 0;
  }
}

void CDialog::paintEvent(QPaintEvent* event) { Dispatch({WM_PAINT, 0, 0, event}); }

void CDialog::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  if (m_pBorder) m_pBorder->Fit();
  const CRect client = GetClientRect();
  SendMessage(WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.Width(), client.Height()));
}

void CDialog::closeEvent(QCloseEvent* event) {
  if (m_bEnding) {
    event->accept();
    return;
  }
  event->ignore();
  SendMessage(WM_CLOSE);
}

void CDialog::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  const bool dialogKey = key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter;
  if (!dialogKey || !isWindow()) {
    // Keys a child dialog does not use go on to the window it lies in.
    event->ignore();
    return;
  }
  if (key == Qt::Key_Escape) {
    SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return;
  }
  QDialog::keyPressEvent(event);  // Enter presses the default button
}

void CDialog::contextMenuEvent(QContextMenuEvent* event) {
  CMenu* menu = isWindow() && !childAt(event->pos()) ? GetSystemMenu() : nullptr;
  if (!menu) {
    event->ignore();
    return;
  }
  menu->Popup(event->globalPos());
}

bool CDialog::event(QEvent* event) {
  // A window's frame stays above the children it gets.
  if (event->type() == QEvent::ChildAdded && m_pBorder) m_pBorder->raise();
  if (event->type() == QEvent::Enter) {
    SendMessage(WM_SETCURSOR, reinterpret_cast<WPARAM>(static_cast<QWidget*>(this)),
                MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  }
  return QDialog::event(event);
}

void CDialog::accept() { SendMessage(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0); }

void CDialog::reject() { SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0); }

BOOL CEscapeProofDialog::PreTranslateMessage(MSG* msg) {
  if (msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE) {
    const QWidget* cancel = GetDlgItem(IDCANCEL);
    if (!cancel || cancel->isEnabled()) return 1;
  }
  return CDialog::PreTranslateMessage(msg);
}
