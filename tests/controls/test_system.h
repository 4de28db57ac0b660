#pragma once

#include "framework/win_types.h"

// The system colours during the tests, all different, so that a pixel tells which one it is.
namespace test_system {
inline constexpr COLORREF kWindow = RGB(255, 255, 255);
inline constexpr COLORREF kWindowText = RGB(0, 0, 0);
inline constexpr COLORREF kHighlight = RGB(10, 36, 106);
inline constexpr COLORREF kHighlightText = RGB(255, 255, 0);
inline constexpr COLORREF kFace = RGB(212, 208, 200);
inline constexpr COLORREF kHilite = RGB(250, 250, 250);
inline constexpr COLORREF kShadow = RGB(128, 128, 128);
inline constexpr COLORREF kDarkShadow = RGB(64, 64, 64);
inline constexpr COLORREF kLight = RGB(230, 230, 230);

// Makes these the application's colours, and has text drawn without smoothing so that
// every pixel of a title is in its colour.
void Apply();
}  // namespace test_system
