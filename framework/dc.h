#pragma once

#include <QFont>
#include <QIcon>
#include <QPainter>
#include <QString>
#include <optional>
#include <vector>

#include "framework/win_types.h"

class QPaintEvent;
class QWidget;

// Text formats
inline constexpr UINT DT_LEFT = 0x0000;
inline constexpr UINT DT_CENTER = 0x0001;
inline constexpr UINT DT_RIGHT = 0x0002;
inline constexpr UINT DT_VCENTER = 0x0004;
inline constexpr UINT DT_WORDBREAK = 0x0010;
inline constexpr UINT DT_SINGLELINE = 0x0020;
inline constexpr UINT DT_NOCLIP = 0x0100;
inline constexpr UINT DT_NOPREFIX = 0x0800;
inline constexpr UINT DT_END_ELLIPSIS = 0x8000;

// Background modes
inline constexpr int TRANSPARENT = 1;
inline constexpr int OPAQUE = 2;

// Edges
inline constexpr UINT BDR_SUNKENOUTER = 0x0002;
inline constexpr UINT BDR_SUNKENINNER = 0x0008;
inline constexpr UINT EDGE_SUNKEN = BDR_SUNKENOUTER | BDR_SUNKENINNER;
inline constexpr UINT BF_RECT = 0x000F;

// Clip box results
inline constexpr int ERROR_REGION = 0;
inline constexpr int NULLREGION = 1;
inline constexpr int SIMPLEREGION = 2;

// Stock objects
inline constexpr int ANSI_VAR_FONT = 12;

// A stock font of the system: ANSI_VAR_FONT is the variable-pitch face of 8-point text.
QFont GetStockFont(int object);

// A one-pixel solid pen.
class CPen {
 public:
  explicit CPen(COLORREF colour) : m_colour(colour) {}
  COLORREF Colour() const { return m_colour; }

 private:
  COLORREF m_colour;
};

// A drawing context over a QPainter, with the platform's drawing rules: one-pixel lines that
// leave out their end point, sunken edges, 3-D frames, text with format flags and a current
// pen, font, text colour, background colour and background mode.
class CDC {
 public:
  // Draws through painter; clipBox is the area being repainted (device coordinates).
  CDC(QPainter& painter, const QRect& clipBox);
  virtual ~CDC();
  CDC(const CDC&) = delete;
  CDC& operator=(const CDC&) = delete;

  QPainter& Painter() { return *m_painter; }

  int GetClipBox(CRect* rect) const;
  void SetWindowOrg(int x, int y);

  void FillSolidRect(const CRect& rect, COLORREF colour);
  void FillSolidRect(int x, int y, int cx, int cy, COLORREF colour);
  void Draw3dRect(const CRect& rect, COLORREF topLeft, COLORREF bottomRight);
  void DrawEdge(CRect* rect, UINT edge, UINT flags);

  const CPen* SelectObject(const CPen* pen);  // nullptr selects the black default pen
  QFont SelectObject(const QFont& font);
  void MoveTo(int x, int y);
  void LineTo(int x, int y);

  COLORREF SetTextColor(COLORREF colour);
  COLORREF SetBkColor(COLORREF colour);
  COLORREF GetBkColor() const { return m_bkColour; }
  int SetBkMode(int mode);
  // Returns the height of the text drawn.
  int DrawText(const QString& text, CRect* rect, UINT format);

  // Draws a 32 x 32 icon with its top-left corner at (x, y).
  void DrawIcon(int x, int y, const QIcon* icon);

  void SaveDC();
  void RestoreDC();

  // Copies the picture of an image onto this context (the image's logical point xSrc, ySrc;
  // an image made for a high-density screen holds several pixels per point).
  void BitBlt(int x, int y, int cx, int cy, const QImage& source, int xSrc, int ySrc);

 protected:
  CDC() = default;
  void Attach(QPainter& painter, const QRect& clipBox);

 private:
  struct State {
    const CPen* pen;
    QFont font;
    COLORREF textColour;
    COLORREF bkColour;
    int bkMode;
    QPoint origin;
  };

  QPainter* m_painter = nullptr;
  QRect m_clipBox;
  const CPen* m_pen = nullptr;
  QFont m_font;
  COLORREF m_textColour = RGB(0, 0, 0);
  COLORREF m_bkColour = RGB(255, 255, 255);
  int m_bkMode = OPAQUE;
  QPoint m_origin;
  QPoint m_position;
  std::vector<State> m_saved;
};

// The drawing context of a paint event: clipped to the area being repainted.
class CPaintDC : public CDC {
 public:
  CPaintDC(QWidget* widget, const QPaintEvent* event);

 private:
  QPainter m_painterOnWidget;
};
