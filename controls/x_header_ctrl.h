#pragma once

#include "framework/header_ctrl.h"

class CDC;

// The column header of the check-box list. It paints itself, flat and without flicker
// (one off-screen picture of the area to repaint, copied back once): a button-face
// background, each item's image at its left, its title centred in blue, 3-D dividers
// between the items and a 3-D frame around the width they use.
class CXHeaderCtrl : public CHeaderCtrl {
 public:
  CXHeaderCtrl();

  // Learns the size of the list's images before the header takes the list.
  CImageList* SetImageList(CImageList* images) override;

 protected:
  // Draws one item into rect, which lies inside the item's margins.
  virtual void DrawHeaderItem(CDC* dc, CRect rect, HDITEM* item);
  // Returns the width taken by the image, 0 when none is drawn.
  int DrawItemImage(CDC* dc, CRect rect, HDITEM* item);
  void DrawItemText(CDC* dc, CRect rect, HDITEM* item);
  void PaintHeader(CDC* dc);

  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void ReadColors();

  int m_nItemMargin = 6;
  int m_cxImage = 0;
  int m_cyImage = 0;
  COLORREF m_clrHilite = 0;
  COLORREF m_clrShadow = 0;
  COLORREF m_clrFace = 0;
};
