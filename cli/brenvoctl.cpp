// brenvoctl: the firewall from a shell, for scripts and administrators. It talks to the
// service brenvod when there is one, or works on a store itself (--db).
#include <signal.h>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/blocked_output.h"
#include "cli/output_text.h"
#include "firewall/bus/blocked_bus_client.h"
#include "firewall/bus/firewall_bus_client.h"
#include "firewall/com/netfw_entries.h"
#include "firewall/com/wide_text.h"
#include "firewall/open_firewall.h"
#include "resources/version.h"

namespace {

constexpr int kRefused = 1;
constexpr int kBadUsage = 2;

constexpr const char* kUsage =
    "Usage: brenvoctl [--json] [--db PATH] [--firewall=service|nftables|store] COMMAND\n"
    "Turns the Brenvo firewall on or off and lists, adds, enables, disables and removes the\n"
    "programs and ports it lets through, and shows the connections it blocked.\n"
    "\n"
    "Commands:\n"
    "  status                              whether the firewall is on, and how it is enforced\n"
    "  on | off                            turn the firewall on or off\n"
    "  apps list                           the authorized programs\n"
    "  apps add PATH NAME                  authorize a program (enabled), or rename it\n"
    "  apps enable|disable|remove PATH\n"
    "  ports list                          the open ports\n"
    "  ports add NUMBER tcp|udp NAME       open a port (enabled), or rename it\n"
    "  ports enable|disable|remove NUMBER tcp|udp\n"
    "  apply                               make the kernel hold the stored configuration again\n"
    "  blocked [--follow]                  the inbound connections the service blocked lately that\n"
    "                                      you may see, newest first: time, program, pid, user,\n"
    "                                      protocol, port, remote address, count; with --follow,\n"
    "                                      each new one as it is blocked, until interrupted\n"
    "\n"
    "Options:\n"
    "  --json                 lists and status as JSON (blocked --follow: one object a line)\n"
    "  --db PATH              work on this store alone, without the service and without the\n"
    "                         kernel unless --firewall=nftables is given\n"
    "  --firewall=BACKEND     service: the system service brenvod; nftables: this process\n"
    "                         changes the store and the kernel; store: the store only.\n"
    "                         Default: $BRENVO_FIREWALL, else the service when it is installed,\n"
    "                         else nftables where this process may change the kernel firewall.\n"
    "                         nftables is refused while the service runs: it owns the table.\n"
    "                         status and the lists never change the kernel.\n"
    "  --version, --help\n"
    "\n"
    "Exit status: 0 done; 1 the change was refused or failed (the reason on standard error);\n"
    "2 the command line was not understood.\n";

struct Command {
  bool json = false;
  bool follow = false;
  std::string database;
  std::string backend;
  std::vector<std::string> words;
};

int Usage(const std::string& problem) {
  std::fprintf(stderr, "brenvoctl: %s\nTry 'brenvoctl --help'.\n", problem.c_str());
  return kBadUsage;
}

int Refused(const std::string& doing, const Status& failure) {
  const std::string& reason = failure.reason();
  std::fprintf(stderr, "brenvoctl: %s: %s\n", doing.c_str(), reason.empty() ? "failed" : reason.c_str());
  return kRefused;
}

// The firewall this command works on. A store named on the command line is worked on here,
// and only there unless nftables is asked for. A command that only reads (`readOnly`) leaves
// the kernel as it is, whatever the backend.
Result<OpenedFirewall> Open(const Command& command, bool readOnly) {
  const std::string backend = command.database.empty() || !command.backend.empty() ? command.backend : "store";
  return OpenFirewall({command.database, backend}, readOnly ? FirewallUse::kReads : FirewallUse::kChanges);
}

// How `opened` is enforced. Asked of the service only where it is shown: a change is then one
// call on the bus.
Result<std::string> Enforcement(const OpenedFirewall& opened) {
  if (opened.choice.backend != FirewallBackend::kService) return opened.choice.Description();
  std::string enforcement;
  const Status asked = dynamic_cast<FirewallBusClient&>(*opened.configuration).Enforcement(&enforcement);
  if (!asked.ok()) return asked;
  return enforcement + ", by the service brenvod";
}

std::optional<std::u16string> Text(const std::string& argument) { return ExactUtf16(argument); }

std::optional<PortKey> Port(const std::string& number, const std::string& protocol) {
  char* end = nullptr;
  const long value = std::strtol(number.c_str(), &end, 10);
  if (number.empty() || *end != '\0' || !ValidPortNumber(value)) return std::nullopt;
  if (protocol != "tcp" && protocol != "udp") return std::nullopt;
  return PortKey{static_cast<LONG>(value), protocol == "tcp" ? kProtocolTcp : kProtocolUdp};
}

// JSON as brenvoctl prints it: members in the order they are documented, and non-ASCII
// text as it is.
void PrintJson(const nlohmann::ordered_json& value) {
  std::printf("%s\n", value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
}

int PrintStatus(FirewallConfiguration& firewall, const std::string& enforcement, bool json) {
  const Result<bool> enabled = firewall.ReadFirewallEnabled();
  if (!enabled.ok()) return Refused("reading the firewall's state", enabled.status());
  const bool on = *enabled;
  if (json)
    PrintJson({{"enabled", on}, {"enforcement", enforcement}});
  else
    std::printf("firewall: %s\nenforcement: %s\n", on ? "on" : "off", TerminalText(enforcement).c_str());
  return 0;
}

int ListApps(FirewallConfiguration& firewall, bool json) {
  std::vector<AppRecord> apps;
  if (const Status listed = firewall.List(&apps); !listed.ok()) return Refused("listing the programs", listed);
  if (json) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const AppRecord& app : apps)
      list.push_back(
          {{"path", Utf8OrReplacement(app.key)}, {"name", Utf8OrReplacement(app.name)}, {"enabled", app.enabled}});
    PrintJson(list);
    return 0;
  }
  for (const AppRecord& app : apps)
    std::printf("%-8s %-24s %s\n", app.enabled ? "enabled" : "disabled",
                TerminalText(Utf8OrReplacement(app.name)).c_str(), TerminalText(Utf8OrReplacement(app.key)).c_str());
  return 0;
}

int ListPorts(FirewallConfiguration& firewall, bool json) {
  std::vector<PortRecord> ports;
  if (const Status listed = firewall.List(&ports); !listed.ok()) return Refused("listing the ports", listed);
  if (json) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const PortRecord& port : ports)
      list.push_back({{"number", port.key.number},
                      {"protocol", ProtocolName(port.key.protocol)},
                      {"name", Utf8OrReplacement(port.name)},
                      {"enabled", port.enabled}});
    PrintJson(list);
    return 0;
  }
  for (const PortRecord& port : ports)
    std::printf("%-8s %5d/%s %s\n", port.enabled ? "enabled" : "disabled", static_cast<int>(port.key.number),
                ProtocolName(port.key.protocol), TerminalText(Utf8OrReplacement(port.name)).c_str());
  return 0;
}

// enable, disable or remove of an entry that must be there.
template <class Key>
int ChangeEntry(FirewallConfiguration& firewall, const std::string& verb, const Key& key, const std::string& what) {
  std::optional<EntryRecord<Key>> entry;
  if (const Status found = firewall.Find(key, &entry); !found.ok()) return Refused("reading " + what, found);
  if (!entry) {
    std::fprintf(stderr, "brenvoctl: there is no %s\n", what.c_str());
    return kRefused;
  }
  const Status changed =
      verb == "remove" ? firewall.Remove(key) : firewall.Update(key, EntryChange{{}, verb == "enable"});
  return changed.ok() ? 0 : Refused(verb + " " + what, changed);
}

int Apps(FirewallConfiguration& firewall, const std::vector<std::string>& words, bool json) {
  // The words are those of one of kVerbs, with its arguments.
  const std::string& verb = words[1];
  if (verb == "list") return ListApps(firewall, json);
  const bool add = verb == "add";
  const auto given = Text(words[2]);
  const auto path = given ? NormalImagePath(*given) : std::nullopt;
  if (!path) return Usage("the path must be absolute UTF-8 text without \"..\" parts");
  const std::string what = "program " + TerminalText(Utf8OrReplacement(*path));
  // An entry stored before paths were made normal is still found by the path it has.
  std::optional<AppRecord> stored;
  const bool storedAsGiven = *given != *path && firewall.Find(*given, &stored).ok() && stored;
  if (!add) return ChangeEntry(firewall, verb, storedAsGiven ? *given : *path, what);
  const auto name = Text(words[3]);
  if (!name || name->empty()) return Usage("the name must be UTF-8 text, not empty");
  const Status added = firewall.Add(AppRecord{*path, *name, true});
  return added.ok() ? 0 : Refused("adding " + what, added);
}

int Ports(FirewallConfiguration& firewall, const std::vector<std::string>& words, bool json) {
  const std::string& verb = words[1];
  if (verb == "list") return ListPorts(firewall, json);
  const bool add = verb == "add";
  const auto port = Port(words[2], words[3]);
  if (!port) return Usage("a port is a number from 1 to 65535 and tcp or udp");
  const std::string what = "port " + words[2] + "/" + words[3];
  if (!add) return ChangeEntry(firewall, verb, *port, what);
  const auto name = Text(words[4]);
  if (!name || name->empty()) return Usage("the name must be UTF-8 text, not empty");
  const Status added = firewall.Add(PortRecord{*port, *name, true});
  return added.ok() ? 0 : Refused("opening " + what, added);
}

void PrintBlocked(const BlockedFlow& flow, bool json) {
  if (json)
    PrintJson(BlockedJson(flow));
  else
    std::printf("%s\n", BlockedLine(flow).c_str());
}

// Prints each block the service tells of until SIGINT or SIGTERM.
int FollowBlocked(BlockedBusClient& client, bool json) {
  // Blocked before the client's thread starts, so that they reach sigwait alone.
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  const Status watching = client.Watch([json](const BlockedFlow& flow) {
    PrintBlocked(flow, json);
    std::fflush(stdout);
  });
  if (!watching.ok()) return Refused("watching the blocked connections", watching);
  // From here on no block is missed: a script may go on.
  std::fprintf(stderr, "brenvoctl: following the blocked connections until interrupted\n");
  int stop = 0;
  sigwait(&stops, &stop);
  return 0;
}

int Blocked(const Command& command) {
  if (!command.database.empty() || (!command.backend.empty() && command.backend != "service"))
    return Usage("blocked asks the service brenvod, which keeps the record of blocked connections");
  Result<std::unique_ptr<BlockedBusClient>> client = BlockedBusClient::Connect();
  if (!client.ok()) return Refused("asking the service for blocked connections", client.status());
  if (command.follow) return FollowBlocked(**client, command.json);
  const Result<std::vector<BlockedFlow>> listed = (*client)->List();
  if (!listed.ok()) return Refused("listing the blocked connections", listed.status());
  if (command.json) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const BlockedFlow& flow : *listed) list.push_back(BlockedJson(flow));
    PrintJson(list);
    return 0;
  }
  for (const BlockedFlow& flow : *listed) PrintBlocked(flow, false);
  return 0;
}

// The commands: their words, then the arguments each takes.
struct Verb {
  const char* group;  // "apps", "ports", or nullptr for a word of its own
  const char* word;
  std::vector<const char*> arguments;
};
const Verb kVerbs[] = {
    {nullptr, "status", {}},
    {nullptr, "on", {}},
    {nullptr, "off", {}},
    {nullptr, "apply", {}},
    {"apps", "list", {}},
    {"apps", "add", {"PATH", "NAME"}},
    {"apps", "enable", {"PATH"}},
    {"apps", "disable", {"PATH"}},
    {"apps", "remove", {"PATH"}},
    {"ports", "list", {}},
    {"ports", "add", {"NUMBER", "PROTOCOL", "NAME"}},
    {"ports", "enable", {"NUMBER", "PROTOCOL"}},
    {"ports", "disable", {"NUMBER", "PROTOCOL"}},
    {"ports", "remove", {"NUMBER", "PROTOCOL"}},
};

// The command line; nothing, with the exit status in *status, when it asks no firewall work.
std::optional<Command> Parse(int argc, char** argv, int* status) {
  Command command;
  CLI::App app("brenvoctl");
  app.set_help_flag();  // the help is kUsage, printed below
  bool help = false, version = false;
  app.add_flag("--help", help);
  app.add_flag("--version", version);
  app.add_flag("--json", command.json);
  app.add_option("--db", command.database)->check([](const std::string& path) {
    return path.empty() ? std::string("--db needs a path") : std::string();
  });
  app.add_option("--firewall", command.backend);
  std::map<std::string, CLI::App*> groups;
  std::vector<std::pair<CLI::App*, std::string>> takes;  // each command and what it takes
  std::vector<std::string> arguments;
  for (const Verb& verb : kVerbs) {
    CLI::App* parent = &app;
    if (verb.group) {
      CLI::App*& group = groups[verb.group];
      if (!group) group = app.add_subcommand(verb.group)->require_subcommand(1)->fallthrough();
      parent = group;
    }
    CLI::App* leaf = parent->add_subcommand(verb.word)->fallthrough();
    std::string usage = std::string(verb.group ? verb.group : "") + (verb.group ? " " : "") + verb.word;
    if (!verb.arguments.empty())
      leaf->add_option("arguments", arguments)->expected(static_cast<int>(verb.arguments.size()))->required();
    for (const char* argument : verb.arguments) usage += std::string(" ") + argument;
    takes.emplace_back(leaf, usage);
    leaf->callback([&command, &arguments, verb] {
      if (verb.group) command.words.emplace_back(verb.group);
      command.words.emplace_back(verb.word);
      command.words.insert(command.words.end(), arguments.begin(), arguments.end());
    });
  }
  CLI::App* blocked = app.add_subcommand("blocked")->fallthrough();
  blocked->add_flag("--follow", command.follow);
  blocked->callback([&command] { command.words.emplace_back("blocked"); });
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    std::string problem = error.what();
    for (const auto& [leaf, usage] : takes)
      if (leaf->parsed()) problem = "the command is: " + usage;
    *status = Usage(problem);
    return std::nullopt;
  }
  if (help || version) {
    if (help)
      std::fputs(kUsage, stdout);
    else
      std::printf("brenvoctl %s\n", kVersion.productVersion);
    *status = 0;
    return std::nullopt;
  }
  if (command.backend.empty())
    if (const char* backend = std::getenv("BRENVO_FIREWALL"); backend && !command.database.size())
      command.backend = backend;
  if (!ParseBackend(command.backend).ok()) {
    *status = Usage("--firewall takes service, nftables or store, not " + command.backend);
    return std::nullopt;
  }
  if (command.backend == "service" && !command.database.empty()) {
    *status = Usage("--db works without the service: the service keeps its own store");
    return std::nullopt;
  }
  if (command.words.empty()) {
    *status = Usage("no command given");
    return std::nullopt;
  }
  return command;
}

}  // namespace

int main(int argc, char** argv) {
  int status = 0;
  const std::optional<Command> command = Parse(argc, argv, &status);
  if (!command) return status;
  const std::vector<std::string>& words = command->words;
  const std::string& first = words[0];
  if (first == "blocked") return Blocked(*command);

  const bool readOnly = first == "status" || (words.size() == 2 && words[1] == "list");
  const Result<OpenedFirewall> opened = Open(*command, readOnly);
  if (!opened.ok()) return Refused("opening the firewall", opened.status());
  FirewallConfiguration& firewall = *opened->configuration;
  if (first == "status") {
    const Result<std::string> enforcement = Enforcement(*opened);
    if (!enforcement.ok()) return Refused("opening the firewall", enforcement.status());
    return PrintStatus(firewall, *enforcement, command->json);
  }
  if (first == "on" || first == "off") {
    const Status turned = firewall.WriteFirewallEnabled(first == "on");
    return turned.ok() ? 0 : Refused("turning the firewall " + first, turned);
  }
  if (first == "apply") {
    const Status applied = firewall.ApplyAll();
    return applied.ok() ? 0 : Refused("applying the store", applied);
  }
  if (first == "apps") return Apps(firewall, words, command->json);
  return Ports(firewall, words, command->json);
}
