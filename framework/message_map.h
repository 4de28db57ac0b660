#pragma once

#include <span>

#include "framework/win_types.h"

class CDialog;
class QIcon;
class QWidget;

// Every window class has one static table that routes a message (and, for commands and
// notifications, a code and a control id) to a member handler. A table names the table of
// its base class; the dispatcher walks from the most derived table to the base.

struct MessageMapEntry {
  UINT message;
  UINT code;  // WM_COMMAND and WM_NOTIFY only
  int id;     // WM_COMMAND and WM_NOTIFY only
  LRESULT (*invoke)(CDialog* self, WPARAM wParam, LPARAM lParam);
};

struct MessageMap {
  const MessageMap* base;
  std::span<const MessageMapEntry> entries;
};

using HICON = const QIcon*;

namespace message_map_detail {

template <class Member>
struct ClassOf;
template <class C, class R, class... Args>
struct ClassOf<R (C::*)(Args...)> {
  using type = C;
};
template <auto Handler>
using Owner = typename ClassOf<decltype(Handler)>::type;

template <auto Handler>
auto* Self(CDialog* self) {
  return static_cast<Owner<Handler>*>(self);
}

}  // namespace message_map_detail

// A button click, a static control's click, or a menu command: void OnX().
template <auto Handler>
constexpr MessageMapEntry OnCommand(UINT code, int id) {
  return {WM_COMMAND, code, id, [](CDialog* self, WPARAM, LPARAM) -> LRESULT {
            (message_map_detail::Self<Handler>(self)->*Handler)();
            return 0;
          }};
}

// A control's notification: void OnX(NMHDR* header, LRESULT* result).
template <auto Handler>
constexpr MessageMapEntry OnNotify(UINT code, int id) {
  return {WM_NOTIFY, code, id, [](CDialog* self, WPARAM, LPARAM lParam) -> LRESULT {
            LRESULT result = 0;
            (message_map_detail::Self<Handler>(self)->*Handler)(reinterpret_cast<NMHDR*>(lParam), &result);
            return result;
          }};
}

// void OnSysCommand(UINT id, LPARAM lParam)
template <auto Handler>
constexpr MessageMapEntry OnSysCommandMessage() {
  return {WM_SYSCOMMAND, 0, 0, [](CDialog* self, WPARAM wParam, LPARAM lParam) -> LRESULT {
            (message_map_detail::Self<Handler>(self)->*Handler)(UINT(wParam), lParam);
            return 0;
          }};
}

// void OnPaint(), void OnClose(): messages without arguments.
template <auto Handler>
constexpr MessageMapEntry OnMessage(UINT message) {
  return {message, 0, 0, [](CDialog* self, WPARAM, LPARAM) -> LRESULT {
            (message_map_detail::Self<Handler>(self)->*Handler)();
            return 0;
          }};
}

// HICON OnQueryDragIcon()
template <auto Handler>
constexpr MessageMapEntry OnQueryDragIconMessage() {
  return {WM_QUERYDRAGICON, 0, 0, [](CDialog* self, WPARAM, LPARAM) -> LRESULT {
            return reinterpret_cast<LRESULT>((message_map_detail::Self<Handler>(self)->*Handler)());
          }};
}

// void OnSize(UINT type, int cx, int cy)
template <auto Handler>
constexpr MessageMapEntry OnSizeMessage() {
  return {WM_SIZE, 0, 0, [](CDialog* self, WPARAM wParam, LPARAM lParam) -> LRESULT {
            (message_map_detail::Self<Handler>(self)->*Handler)(UINT(wParam), LOWORD(lParam), HIWORD(lParam));
            return 0;
          }};
}

// BOOL OnSetCursor(QWidget* window, UINT hitTest, UINT message)
template <auto Handler>
constexpr MessageMapEntry OnSetCursorMessage() {
  return {WM_SETCURSOR, 0, 0, [](CDialog* self, WPARAM wParam, LPARAM lParam) -> LRESULT {
            return (message_map_detail::Self<Handler>(self)->*Handler)(reinterpret_cast<QWidget*>(wParam),
                                                                       UINT(LOWORD(lParam)), UINT(HIWORD(lParam)));
          }};
}

// The entry that handles this message, or nullptr.
const MessageMapEntry* FindMessageEntry(const MessageMap* map, UINT message, WPARAM wParam, LPARAM lParam);
