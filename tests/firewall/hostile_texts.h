#pragma once
// Fifty names that would do harm if the firewall ever took them for commands: nft syntax,
// JSON that closes the command around it, shell, SQL, format strings, line breaks, a text
// much longer than a row shows, and characters outside the basic plane. Each ends in its own
// mark, so that all fifty differ.
#include <iterator>
#include <string>
#include <vector>

inline std::vector<std::u16string> HostileTexts() {
  const std::u16string kinds[] = {
      u"\"quoted\"",
      u"'single'",
      u"{ braces }",
      u"a; flush ruleset",
      u"flush ruleset",
      u"line\nbreak",
      u"back\\slash",
      u"$(reboot)",
      u"\"}]},{\"delete\":{\"table\":{\"family\":\"ip\",\"name\":\"foreign\"}}}]}",
      u"; delete table ip foreign;",
      u"'); DROP TABLE open_ports; --",
      u"%s%n%x",
      u"tab\there",
      u"\u202Eright to left",
      u"\U0001F525 fire",
      std::u16string(3000, u'{'),
  };
  std::vector<std::u16string> texts;
  for (int i = 0; i < 50; ++i)
    texts.push_back(kinds[i % std::size(kinds)] + u"#" + std::u16string(1, static_cast<char16_t>(u'A' + i)));
  return texts;
}
