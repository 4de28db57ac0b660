#pragma once

#include <map>

#include "framework/dialog.h"

// A child dialog that holds numbered page dialogs and lays them out. It does not own them:
// their windows are its children because their creator gives it as their parent.
class CTabDialog : public CDialog {
 public:
  CTabDialog(int templateId, QWidget* parent);

  BOOL AddPage(CDialog* page);
  // Every page to (0, 0) at 505 x 230 pixels; page 0 shown.
  void LayoutPages();
  // Every page to (0, 0) at 1000 x 64 pixels; page 0 shown.
  void LayoutBanners();
  void HideAllPages();

  int m_nPages = 0;
  std::map<int, CDialog*> m_pages;

 private:
  void LayoutAll(int cx, int cy);
};
