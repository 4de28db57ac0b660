#include "firewall/bus/bus_protocol.h"

#include <sdbus-c++/IConnection.h>

#include <sdbus-c++/IObject.h>
#include <sdbus-c++/Message.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "firewall/com/com_runtime.h"
#include "firewall/com/wide_text.h"

namespace bus {
namespace {

constexpr std::string_view kErrorPrefix = "org.brenvo.Firewall1.Error.";

const char* KindOf(HRESULT hr) {
  switch (hr) {
    case HRESULT_NOT_FOUND: return "NotFound";
    case E_ACCESSDENIED: return "AccessDenied";
    case E_INVALIDARG: return "InvalidArgument";
    case HRESULT_BUSY: return "Busy";
    default: return "Failed";
  }
}

}  // namespace

sdbus::Error ErrorOf(HRESULT hr, const std::string& reason) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08" PRIX32 ": ", static_cast<std::uint32_t>(hr));
  return sdbus::Error(std::string(kErrorPrefix) + KindOf(hr), code + reason);
}

HRESULT ResultOf(const sdbus::Error& error) {
  const std::string& message = error.getMessage();
  if (error.getName().starts_with(kErrorPrefix) && message.size() >= 12 && message.starts_with("0x") &&
      message.compare(10, 2, ": ") == 0) {
    char* end = nullptr;
    const unsigned long code = std::strtoul(message.substr(2, 8).c_str(), &end, 16);
    if (end && *end == '\0' && FAILED(static_cast<HRESULT>(code))) {
      SetErrorInfoText(message.substr(12));
      return static_cast<HRESULT>(code);
    }
  }
  SetErrorInfoText("the firewall service: " + (message.empty() ? error.getName() : message));
  return error.getName() == "org.freedesktop.DBus.Error.AccessDenied" ? E_ACCESSDENIED : E_FAIL;
}

std::optional<std::string> CurrentSender(sdbus::IObject& object) {
  const sdbus::Message* message = object.getCurrentlyProcessedMessage();
  if (!message) return std::nullopt;
  std::string sender = message->getSender();
  if (sender.empty()) return std::nullopt;
  return sender;
}

HRESULT ConnectSystemBus(std::unique_ptr<sdbus::IConnection>* connection) {
  try {
    *connection = sdbus::createSystemBusConnection();
    return S_OK;
  } catch (const sdbus::Error& error) {
    SetErrorInfoText("cannot reach the system bus: " + error.getMessage());
    return E_FAIL;
  }
}

std::optional<std::u16string> Utf16(std::string_view utf8) {
  std::u16string text;
  text.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(utf8[at]); };
    const unsigned char lead = byte(i);
    const std::size_t length = lead < 0x80                   ? 1
                               : lead >= 0xC2 && lead < 0xE0 ? 2
                               : lead >= 0xE0 && lead < 0xF0 ? 3
                               : lead >= 0xF0 && lead < 0xF5 ? 4
                                                             : 0;
    if (length == 0 || i + length > utf8.size()) return std::nullopt;
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      if ((byte(i + k) & 0xC0) != 0x80) return std::nullopt;
      c = c << 6 | (byte(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kSmallest[length] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF || c == 0) return std::nullopt;
    i += length;
    if (c >= 0x10000) {
      c -= 0x10000;
      text += static_cast<char16_t>(0xD800 + (c >> 10));
      text += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      text += static_cast<char16_t>(c);
    }
  }
  return text;
}

std::optional<std::string> Utf8(std::u16string_view utf16) { return ExactUtf8(utf16); }

std::string Utf8OrReplacement(std::u16string_view utf16) {
  if (auto exact = Utf8(utf16)) return *std::move(exact);
  std::u16string text(utf16);
  for (char16_t& c : text)
    if (c == u'\0') c = u'\uFFFD';
  return Utf8Text(text);
}

}  // namespace bus
