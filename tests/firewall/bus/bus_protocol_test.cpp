// What crosses the bus: failures as named errors carrying their HRESULT, texts as UTF-8.
#include <gtest/gtest.h>

#include "firewall/bus/bus_protocol.h"
#include "firewall/com/com_runtime.h"

namespace {

TEST(BusProtocolTest, AFailureComesBackAsTheHresultItLeftWith) {
  const struct {
    HRESULT hr;
    const char* name;
  } cases[] = {
      {HRESULT_NOT_FOUND, "org.brenvo.Firewall1.Error.NotFound"},
      {E_ACCESSDENIED, "org.brenvo.Firewall1.Error.AccessDenied"},
      {E_INVALIDARG, "org.brenvo.Firewall1.Error.InvalidArgument"},
      {HRESULT_BUSY, "org.brenvo.Firewall1.Error.Busy"},
      {E_FAIL, "org.brenvo.Firewall1.Error.Failed"},
      {E_OUTOFMEMORY, "org.brenvo.Firewall1.Error.Failed"},
  };
  for (const auto& c : cases) {
    const sdbus::Error error = bus::ErrorOf(c.hr, "why: it \"failed\"");
    EXPECT_EQ(error.getName(), c.name);
    EXPECT_EQ(bus::ResultOf(error), c.hr) << c.name;
    EXPECT_EQ(TakeErrorInfoText(), "why: it \"failed\"");
  }
}

TEST(BusProtocolTest, AnErrorFromElsewhereIsAFailureWithItsMessage) {
  EXPECT_EQ(bus::ResultOf(sdbus::Error("org.freedesktop.DBus.Error.ServiceUnknown", "no brenvod")), E_FAIL);
  EXPECT_EQ(TakeErrorInfoText(), "the firewall service: no brenvod");
  EXPECT_EQ(bus::ResultOf(sdbus::Error("org.freedesktop.DBus.Error.AccessDenied", "policy")), E_ACCESSDENIED);
  TakeErrorInfoText();
  // A message that only looks like ours is not taken for an HRESULT.
  EXPECT_EQ(bus::ResultOf(sdbus::Error("org.brenvo.Firewall1.Error.Failed", "0x0000000Z: odd")), E_FAIL);
  EXPECT_EQ(bus::ResultOf(sdbus::Error("org.example.Error", "0x80070005: borrowed")), E_FAIL);
  EXPECT_EQ(bus::ResultOf(sdbus::Error("org.brenvo.Firewall1.Error.Failed", "0x00000001: success?")), E_FAIL);
  TakeErrorInfoText();
}

TEST(BusProtocolTest, OnlyUnicodeTextWithoutNulCrosses) {
  EXPECT_EQ(bus::Utf16("port \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x94\xA5"), u"port \u00e9 \u20ac \U0001F525");
  for (const char* bad : {"\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82", "\x80", "a\xFF"}) {
    EXPECT_FALSE(bus::Utf16(bad)) << bad;
  }
  EXPECT_FALSE(bus::Utf16(std::string("a\0b", 3)));

  EXPECT_EQ(bus::Utf8(u"port \u00e9 \U0001F525"), "port \xC3\xA9 \xF0\x9F\x94\xA5");
  EXPECT_FALSE(bus::Utf8(std::u16string{u'a', u'\xD800'}));
  EXPECT_FALSE(bus::Utf8(std::u16string{u'\xDC00', u'a'}));
  EXPECT_FALSE(bus::Utf8(std::u16string{u'a', u'\0'}));
  // What the firewall already holds is shown, the characters that cannot cross replaced.
  EXPECT_EQ(bus::Utf8OrReplacement(std::u16string{u'a', u'\0', u'\xD800', u'b'}),
            "a\xEF\xBF\xBD\xEF\xBF\xBD"
            "b");
}

}  // namespace
