#include "app/options.h"

#include <charconv>
#include <string_view>

namespace {

// An option with a value: a text, or a whole number from 1 to `max`.
struct ValueOption {
  std::string_view name;
  std::string Options::*text = nullptr;
  std::size_t Options::*number = nullptr;
  std::size_t max = 0;
};

constexpr ValueOption kValueOptions[] = {
    {"--db", &Options::database},
    {"--firewall", &Options::firewall},
    {"--capture-file", &Options::captureFile},
    {"--max-sessions", nullptr, &Options::maxSessions, SessionList::kMaxLimit},
    {"--max-segments", nullptr, &Options::maxSegments, PacketTreeModel::kMaxLimit},
};

bool ParseNumber(std::string_view text, std::size_t max, std::size_t& number) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, number);
  return error == std::errc() && stop == end && number >= 1 && number <= max;
}

}  // namespace

std::optional<Options> ParseOptions(int argc, const char* const* argv, std::string* error) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (!arg.starts_with("--")) continue;
    if (arg == "--help") {
      options.help = true;
      continue;
    }
    if (arg == "--version") {
      options.version = true;
      continue;
    }
    if (arg == "--apply") {
      options.apply = true;
      continue;
    }
    const ValueOption* known = nullptr;
    std::string_view value;
    for (const ValueOption& option : kValueOptions) {
      if (arg == option.name) {
        if (i + 1 >= argc) {
          *error = std::string(arg) + " needs a value";
          return std::nullopt;
        }
        known = &option;
        value = argv[++i];
      } else if (arg.starts_with(option.name) && arg.size() > option.name.size() && arg[option.name.size()] == '=') {
        known = &option;
        value = arg.substr(option.name.size() + 1);
      }
      if (known) break;
    }
    if (!known) {
      *error = "unknown option " + std::string(arg);
      return std::nullopt;
    }
    if (value.empty()) {
      *error = std::string(known->name) + " needs a value";
      return std::nullopt;
    }
    if (known->text) {
      options.*(known->text) = std::string(value);
    } else if (!ParseNumber(value, known->max, options.*(known->number))) {
      *error = std::string(known->name) + " takes a whole number from 1 to " + std::to_string(known->max) + ", not " +
               std::string(value);
      return std::nullopt;
    }
  }
  if (!options.firewall.empty() && options.firewall != "service" && options.firewall != "store" &&
      options.firewall != "nftables") {
    *error = "--firewall takes service, nftables or store, not " + options.firewall;
    return std::nullopt;
  }
  return options;
}

std::string UsageText(const std::string& backendInUse) {
  return "Usage: brenvo [options]\n"
         "Firewall manager with a traffic monitor.\n"
         "\n"
         "Options:\n"
         "  --db PATH             firewall store (default: $BRENVO_DB, else /var/lib/brenvo/firewall.db\n"
         "                        for root, else $XDG_STATE_HOME/brenvo/firewall.db)\n"
         "  --firewall=BACKEND    service: the system service brenvod keeps and enforces the\n"
         "                        configuration; nftables: this process keeps it and enforces it in the\n"
         "                        kernel (table inet brenvo); store: this process keeps it only.\n"
         "                        Default: $BRENVO_FIREWALL, else the service when it is installed, else\n"
         "                        nftables when this process may change the kernel firewall, else store.\n"
         "  --apply               apply the stored configuration to the kernel firewall and exit\n"
         "  --capture-file PATH   show the traffic of a pcap or pcapng file instead of the network\n"
         "  --max-sessions N      TCP sessions the traffic monitor follows at once (default " +
         std::to_string(SessionList::kDefaultLimit) +
         "); a new one\n"
         "                        beyond N drops the one seen longest ago\n"
         "  --max-segments M      segments the traffic tree holds (default " +
         std::to_string(PacketTreeModel::kDefaultLimit) +
         "); past M the oldest M/16\n"
         "                        leave the tree. Logger.txt keeps every line.\n"
         "  --version             print the product name and version\n"
         "  --help                print this help\n"
         "\n"
         "Firewall backend for this run: " +
         backendInUse + "\n";
}
