#pragma once

#include <QString>
#include <initializer_list>

#include "controls/x_list_ctrl.h"
#include "firewall/com/bstr.h"
#include "firewall/fw_error.h"

class CFirewall;
class QWidget;

// What the programs page and the ports page share: the set-up of their check-box list, the
// way to the main window, and the conversions of the texts they hand to the firewall.

struct ListColumn {
  const char* heading;
  int width;
};

// Inserts the columns (left-aligned), selects whole rows, and puts the header box over
// column 0 (unchecked) with a blank image over the others.
void SetupExceptionList(CXListCtrl& list, std::initializer_list<ListColumn> columns);

// The row and column under the list's click notification (NM_CLICK); -1 and -1 when the
// click was on no row.
struct CellHit {
  int row = -1;
  int column = -1;
};
CellHit HitTestClick(const CXListCtrl& list, const NMHDR* click);

// The main window is the page's own top-level window. It is looked up there rather than as
// the active window, which can be none or another application's while a click arrives.
// nullptr when the page does not lie in one.
CFirewall* FindMainWindow(const QWidget* page);

// A wide copy for the firewall; freed when the result goes out of scope.
UniqueBstr AllocSysString(const QString& text);

// The number at the start of the text, as atoi reads it ("80abc" is 80, " +7" is 7, "abc" is
// 0), except that a number beyond the range of int gives the nearest limit rather than the
// low bits of what was typed.
int TextToNumber(const QString& text);

// Calls toggle with the state the row's box shows (1 checked, else 0) and flips the box only
// when the firewall took the change, so that the box never shows a state the firewall does
// not hold.
template <class Toggle>
void ToggleRowCheck(CXListCtrl& list, int row, Toggle toggle) {
  const int current = list.GetCellCheck(row, 0) == 1 ? 1 : 0;
  if (toggle(current) == FW_OK) list.SetCellCheck(row, 0, current == 1 ? 0 : 1);
}
