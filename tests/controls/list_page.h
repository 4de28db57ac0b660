#pragma once

#include <vector>

#include "controls/x_list_ctrl.h"
#include "framework/dialog.h"

// A page made like the programs page: dialog template 131 with its list view 1008 bound to
// a CXListCtrl, four columns set up for the list's width, full-row selection and the header
// box over column 0. Its message table records the list's notifications.
class ListPage : public CDialog {
 public:
  // Creates the page as a window of its own, shown.
  ListPage();

  // Appends one program row: the box, the name, the blue "Remove" cell and the path.
  void AddRow(bool enabled, const char* name, const char* path);
  // Makes the page the active window, so that its list can take the focus.
  bool Activate();
  // A cell's rectangle in the list's client coordinates.
  QRect Cell(int item, int subItem) const;
  // Clicks the middle of a cell, as a user would.
  void ClickCell(int item, int subItem);

  CXListCtrl m_list;
  std::vector<NMITEMACTIVATE> m_clicks;
  std::vector<int> m_columnClicks;

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* pDX) override;
  const MessageMap* GetMessageMap() const override;

 private:
  void OnListClick(NMHDR* header, LRESULT* result);
  void OnColumnClick(NMHDR* header, LRESULT* result);
};
