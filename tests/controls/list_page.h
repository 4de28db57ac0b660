#pragma once

#include <vector>

#include "app/framework/dialog.h"
#include "controls/x_list_ctrl.h"

// A page made like the programs page: dialog template 131 with its list view 1008 bound to
// a CXListCtrl, four columns set up for the list's width, full-row selection and the header
// box over column 0. Its message table records the list's notifications.
class ListPage : public CDialog {
 public:
  // Creates the page as a window of its own, shown.
  ListPage();

  // Appends one program row: the box, the name, the blue "Remove" cell and the path.
  void AddRow(bool enabled, const char* name, const char* path);

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
