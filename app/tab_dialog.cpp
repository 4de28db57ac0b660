#include "app/tab_dialog.h"

CTabDialog::CTabDialog(int templateId, QWidget* parent) : CDialog(templateId, parent) {}

BOOL CTabDialog::AddPage(CDialog* page) {
  m_pages[m_nPages] = page;
  ++m_nPages;
  return 1;
}

void CTabDialog::LayoutPages() { LayoutAll(505, 230); }

void CTabDialog::LayoutBanners() { LayoutAll(1000, 64); }

void CTabDialog::LayoutAll(int cx, int cy) {
  // Pages other than the first keep their visibility: their templates leave them hidden.
  for (int i = 0; i < m_nPages; ++i) {
    const auto page = m_pages.find(i);
    if (page == m_pages.end()) continue;
    page->second->SetWindowPos(0, 0, cx, cy, SWP_NOZORDER);
    if (i == 0) page->second->ShowWindow(SW_SHOW);
  }
}

void CTabDialog::HideAllPages() {
  for (int i = 0; i < m_nPages; ++i) {
    const auto page = m_pages.find(i);
    if (page != m_pages.end()) page->second->ShowWindow(SW_HIDE);
  }
}
