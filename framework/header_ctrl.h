#pragma once

#include <QHeaderView>

#include "framework/win_types.h"

class CImageList;

// Which fields of an HDITEM are read or written
inline constexpr UINT HDI_WIDTH = 0x0001;
inline constexpr UINT HDI_TEXT = 0x0002;
inline constexpr UINT HDI_FORMAT = 0x0004;
inline constexpr UINT HDI_IMAGE = 0x0020;

// Item formats
inline constexpr int HDF_LEFT = 0x0000;
inline constexpr int HDF_RIGHT = 0x0001;
inline constexpr int HDF_CENTER = 0x0002;
inline constexpr int HDF_JUSTIFYMASK = 0x0003;
inline constexpr int HDF_IMAGE = 0x0800;
inline constexpr int HDF_STRING = 0x4000;

// One header item. The text is UTF-8 in a caller's buffer of cchTextMax bytes.
struct HDITEM {
  UINT mask = 0;
  int cxy = 0;
  char* pszText = nullptr;
  int cchTextMax = 0;
  int fmt = 0;
  int iImage = 0;
};

// The model keeps each item's format and image index beside its title (Qt::DisplayRole).
inline constexpr int HeaderFormatRole = Qt::UserRole + 1;
inline constexpr int HeaderImageRole = Qt::UserRole + 2;

// The column header of a report list: items with a title, a format, an image index and a
// width. Items are addressed by their index; their display order can differ. Coordinates
// are those of the header's viewport; when the list scrolls sideways the header's client
// area begins left of it, as if the header window were moved.
class CHeaderCtrl : public QHeaderView {
 public:
  CHeaderCtrl();

  int GetItemCount() const { return count(); }
  BOOL GetItem(int index, HDITEM* item) const;
  BOOL SetItem(int index, const HDITEM* item);
  BOOL GetItemRect(int index, CRect* rect) const;
  int OrderToIndex(int order) const { return logicalIndex(order); }
  CRect GetClientRect() const;

  CImageList* GetImageList() const { return m_pImageList; }
  // Returns the list used before.
  virtual CImageList* SetImageList(CImageList* images);

  // Repaints what is invalid at once.
  void UpdateWindow();

  QSize sizeHint() const override;

 private:
  CImageList* m_pImageList = nullptr;
};
