#pragma once

#include "framework/dialog.h"

// The strip at the bottom of the main window: a picture that opens the home page when clicked,
// under a hand cursor.
class CBannerDlg : public CEscapeProofDialog {
 public:
  explicit CBannerDlg(QWidget* parent);

  static constexpr const char* kHomePage = "https://brenvo.example/";

 protected:
  const MessageMap* GetMessageMap() const override;

 private:
  void OnBannerClick();
  BOOL OnBannerSetCursor(QWidget* window, UINT hitTest, UINT message);
};
