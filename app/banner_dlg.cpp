#include "app/banner_dlg.h"

#include "framework/modal_services.h"
#include "resources/resource.h"

CBannerDlg::CBannerDlg(QWidget* parent) : CEscapeProofDialog(IDD_BANNER, parent) {}

const MessageMap* CBannerDlg::GetMessageMap() const {
  static constexpr MessageMapEntry kEntries[] = {
      OnCommand<&CBannerDlg::OnBannerClick>(STN_CLICKED, IDC_BANNER_BITMAP),
      OnSetCursorMessage<&CBannerDlg::OnBannerSetCursor>(),
  };
  static const MessageMap map{CEscapeProofDialog::GetMessageMap(), kEntries};
  return &map;
}

void CBannerDlg::OnBannerClick() { ShellExecuteA(nullptr, "open", kHomePage, nullptr, nullptr, SW_SHOWNORMAL); }

BOOL CBannerDlg::OnBannerSetCursor(QWidget*, UINT, UINT) {
  // Set on the banner itself, the hand shows over every part of it, the picture included.
  setCursor(Qt::PointingHandCursor);
  return 1;
}
