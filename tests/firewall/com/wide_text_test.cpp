// Wide text to UTF-8, and how a text too long for its buffer is cut.
#include <gtest/gtest.h>

#include <string>

#include "firewall/com/wide_text.h"

namespace {

std::string Convert(const char16_t* text, int destSize, int* result) {
  std::string buffer(static_cast<std::size_t>(destSize), '#');
  *result = WideCharToMultiByte(CP_ACP, 0, text, -1, buffer.data(), destSize, nullptr, nullptr);
  return std::string(buffer.c_str());
}

TEST(WideTextTest, EncodesEveryPlaneAndReplacesUnpairedSurrogates) {
  struct Case {
    const char16_t* wide;
    std::string utf8;
  };
  const Case cases[] = {
      {u"", ""},
      {u"plain", "plain"},
      {u"\u00E9\u07FF", "\xC3\xA9\xDF\xBF"},
      {u"\u0800\uFFFD", "\xE0\xA0\x80\xEF\xBF\xBD"},
      {u"\U0001F525", "\xF0\x9F\x94\xA5"},
      {u"a\xD800z", "a\xEF\xBF\xBDz"},  // high surrogate without its low half
      {u"a\xDC00", "a\xEF\xBF\xBD"},    // low surrogate alone
  };
  for (const Case& c : cases) {
    int result = 0;
    EXPECT_EQ(Convert(c.wide, 256, &result), c.utf8);
    EXPECT_EQ(result, static_cast<int>(c.utf8.size()) + 1);  // with the terminator
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, c.wide, -1, nullptr, 0, nullptr, nullptr), result);
  }
}

TEST(WideTextTest, ATextThatDoesNotFitIsCutBetweenCharacters) {
  // 253 ASCII bytes leave two bytes before the terminator.
  const std::u16string head(253, u'a');
  int result = 0;
  std::u16string text = head + u"\u00E9";  // fits exactly: 255 bytes
  EXPECT_EQ(Convert(text.c_str(), 256, &result).size(), 255u);
  EXPECT_EQ(result, 256);
  text = head + u"\u20AC";  // three bytes: cut before it
  EXPECT_EQ(Convert(text.c_str(), 256, &result), std::string(253, 'a'));
  EXPECT_EQ(result, 0);
  text = head + u"b\U0001F525";  // a surrogate pair is one character
  EXPECT_EQ(Convert(text.c_str(), 256, &result), std::string(253, 'a') + "b");
  EXPECT_EQ(Convert(u"\u00E9", 2, &result), "");
  EXPECT_EQ(result, 0);
}

TEST(WideTextTest, ACountedSourceIsConvertedWithoutTerminator) {
  char buffer[8] = "#######";
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"abcdef", 3, buffer, sizeof buffer, nullptr, nullptr), 3);
  EXPECT_EQ(std::string(buffer, 4), "abc#");
  EXPECT_EQ(WideCharToMultiByte(1252, 0, u"abc", -1, buffer, sizeof buffer, nullptr, nullptr), 0);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, nullptr, -1, buffer, sizeof buffer, nullptr, nullptr), 0);
}

TEST(WideTextTest, ExactConversionsTakeOnlyUnicodeTextWithoutNul) {
  EXPECT_EQ(ExactUtf16("port \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x94\xA5"), u"port \u00e9 \u20ac \U0001F525");
  for (const char* bad : {"\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82", "\x80", "a\xFF"}) {
    EXPECT_FALSE(ExactUtf16(bad)) << bad;
  }
  EXPECT_FALSE(ExactUtf16(std::string("a\0b", 3)));

  EXPECT_EQ(ExactUtf8(u"port \u00e9 \U0001F525"), "port \xC3\xA9 \xF0\x9F\x94\xA5");
  EXPECT_FALSE(ExactUtf8(std::u16string{u'a', u'\xD800'}));
  EXPECT_FALSE(ExactUtf8(std::u16string{u'\xDC00', u'a'}));
  EXPECT_FALSE(ExactUtf8(std::u16string{u'a', u'\0'}));
  // What the firewall already holds is shown, the characters that cannot cross replaced.
  EXPECT_EQ(Utf8OrReplacement(std::u16string{u'a', u'\0', u'\xD800', u'b'}),
            "a\xEF\xBF\xBD\xEF\xBF\xBD"
            "b");
}

}  // namespace
