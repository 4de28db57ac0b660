#pragma once

#include <span>

#include "resources/window_styles.h"

// A dialog described as data, in dialog units, the way the windows of the program are laid out.

enum class ControlKind {
  PushButton,
  DefPushButton,
  GroupBox,
  AutoRadioButton,
  StaticText,
  StaticIcon,    // text holds nothing; resource names the icon
  StaticBitmap,  // resource names the bitmap
  Edit,
  ComboBox,
  ListView,
  TreeView,
  TabControl,
};

inline constexpr int IDC_STATIC = -1;

struct ControlTemplate {
  ControlKind kind;
  int id;  // IDC_STATIC for controls that are never addressed
  const char* text;
  DWORD style;
  int x, y, cx, cy;
  int resource = 0;  // icon or bitmap shown by a static picture control
};

struct DialogTemplate {
  int id;
  const char* caption;  // nullptr: no caption
  DWORD style;
  DWORD exStyle;
  int x, y, cx, cy;
  const char* fontName;
  int fontPointSize;
  std::span<const ControlTemplate> controls;
};

// The template with this id, or nullptr.
const DialogTemplate* FindDialogTemplate(int id);
