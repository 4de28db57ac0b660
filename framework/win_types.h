#pragma once

#include <QRect>
#include <cstdint>

#include "resources/window_styles.h"

// The small vocabulary of the window framework: integer types, colours, messages and
// notification codes, rectangles with exclusive right and bottom edges.

using UINT = std::uint32_t;
using BOOL = std::int32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using INT_PTR = std::intptr_t;

// 0x00BBGGRR
using COLORREF = std::uint32_t;
constexpr COLORREF RGB(int r, int g, int b) {
  return COLORREF(r & 0xFF) | (COLORREF(g & 0xFF) << 8) | (COLORREF(b & 0xFF) << 16);
}
constexpr int GetRValue(COLORREF c) { return int(c & 0xFF); }
constexpr int GetGValue(COLORREF c) { return int((c >> 8) & 0xFF); }
constexpr int GetBValue(COLORREF c) { return int((c >> 16) & 0xFF); }
inline constexpr COLORREF CLR_NONE = 0xFFFFFFFF;
inline constexpr COLORREF CLR_DEFAULT = 0xFF000000;

constexpr WPARAM MAKEWPARAM(int low, int high) {
  return WPARAM(std::uint16_t(low)) | (WPARAM(std::uint16_t(high)) << 16);
}
constexpr LPARAM MAKELPARAM(int low, int high) { return LPARAM(MAKEWPARAM(low, high)); }
constexpr int LOWORD(std::uintptr_t v) { return int(v & 0xFFFF); }
constexpr int HIWORD(std::uintptr_t v) { return int((v >> 16) & 0xFFFF); }

// Window messages
inline constexpr UINT WM_SIZE = 0x0005;
inline constexpr UINT WM_PAINT = 0x000F;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_SETCURSOR = 0x0020;
inline constexpr UINT WM_QUERYDRAGICON = 0x0037;
inline constexpr UINT WM_NOTIFY = 0x004E;
inline constexpr UINT WM_KEYDOWN = 0x0100;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_SYSCOMMAND = 0x0112;

// Keys
inline constexpr WPARAM VK_TAB = 0x09;
inline constexpr WPARAM VK_RETURN = 0x0D;
inline constexpr WPARAM VK_ESCAPE = 0x1B;
inline constexpr WPARAM VK_LEFT = 0x25;
inline constexpr WPARAM VK_UP = 0x26;
inline constexpr WPARAM VK_RIGHT = 0x27;
inline constexpr WPARAM VK_DOWN = 0x28;

// System commands
inline constexpr UINT SC_CLOSE = 0xF060;

// Notification codes
inline constexpr UINT BN_CLICKED = 0;
inline constexpr UINT STN_CLICKED = 0;
inline constexpr UINT NM_CLICK = UINT(-2);
inline constexpr UINT LVN_COLUMNCLICK = UINT(-108);
inline constexpr UINT TCN_SELCHANGE = UINT(-551);

// Size types of WM_SIZE
inline constexpr UINT SIZE_RESTORED = 0;

// Show commands
inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOWNORMAL = 1;
inline constexpr int SW_SHOW = 5;

// SetWindowPos flags
inline constexpr UINT SWP_NOSIZE = 0x0001;
inline constexpr UINT SWP_NOMOVE = 0x0002;
inline constexpr UINT SWP_NOZORDER = 0x0004;
inline constexpr UINT SWP_SHOWWINDOW = 0x0040;

// Message box types and results
inline constexpr UINT MB_OK = 0x0000;
inline constexpr UINT MB_ICONERROR = 0x0010;
inline constexpr UINT MB_ICONWARNING = 0x0030;
inline constexpr UINT MB_ICONINFORMATION = 0x0040;
inline constexpr UINT MB_ICONMASK = 0x00F0;

class QWidget;

// Header of every notification a control sends to its dialog.
struct NMHDR {
  QWidget* hwndFrom;
  UINT idFrom;
  UINT code;
};

// A message as the pre-translation hooks see it.
struct MSG {
  QWidget* hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

// A rectangle whose right and bottom edges lie just outside it.
struct CRect {
  int left = 0, top = 0, right = 0, bottom = 0;

  constexpr CRect() = default;
  constexpr CRect(int l, int t, int r, int b) : left(l), top(t), right(r), bottom(b) {}
  explicit CRect(const QRect& r)
      : left(r.left()), top(r.top()), right(r.left() + r.width()), bottom(r.top() + r.height()) {}

  constexpr int Width() const { return right - left; }
  constexpr int Height() const { return bottom - top; }
  constexpr bool IsRectEmpty() const { return right <= left || bottom <= top; }
  constexpr bool PtInRect(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  constexpr void OffsetRect(int dx, int dy) {
    left += dx;
    right += dx;
    top += dy;
    bottom += dy;
  }
  constexpr void DeflateRect(int dx, int dy) {
    left += dx;
    right -= dx;
    top += dy;
    bottom -= dy;
  }
  QRect ToQRect() const { return QRect(left, top, Width(), Height()); }
  constexpr bool operator==(const CRect&) const = default;
};
