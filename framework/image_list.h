#pragma once

#include <QIcon>
#include <QImage>
#include <vector>

#include "framework/win_types.h"

class CDC;

inline constexpr UINT ILC_MASK = 0x0001;
inline constexpr UINT ILC_COLOR32 = 0x0020;

// A row of equally sized images, made from a bitmap strip with a mask colour or from icons.
class CImageList {
 public:
  // Cuts the bitmap resource into images cx pixels wide; pixels of the mask colour are transparent.
  BOOL Create(int bitmapId, int cx, int grow, COLORREF mask);
  BOOL Create(int cx, int cy, UINT flags, int initial, int grow);

  int Add(const QIcon& icon);  // index of the new image, or -1
  int GetImageCount() const { return int(m_images.size()); }
  QSize ImageSize() const { return m_size; }
  // The image's rectangle, at the origin; FALSE for an index outside the list.
  BOOL GetImageInfo(int index, CRect* imageRect) const;
  const QImage& Image(int index) const { return m_images.at(size_t(index)); }

  // CLR_NONE draws masked pixels transparent; any other colour fills them.
  COLORREF SetBkColor(COLORREF colour);
  COLORREF GetBkColor() const { return m_bkColour; }
  // Draws the image with its top-left at (x, y), cut to cx x cy pixels.
  void Draw(CDC* dc, int index, int x, int y, int cx, int cy) const;

 private:
  QSize m_size;
  std::vector<QImage> m_images;
  COLORREF m_bkColour = CLR_NONE;
};
