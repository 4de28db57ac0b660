// brenvod: the firewall as a system service. It owns the store and the kernel's table,
// applies the store at start, and serves the window and the command line on the system bus
// as org.brenvo.Firewall1, polkit deciding who may change what.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <sdbus-c++/sdbus-c++.h>
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "daemon/blocked_adaptor.h"
#include "daemon/bus_departures.h"
#include "daemon/capture_server.h"
#include "daemon/polkit_authorizer.h"
#include "daemon/traffic_adaptor.h"
#include "firewall/bus/bus_protocol.h"
#include "firewall/bus/firewall_adaptor.h"
#include "firewall/nft/nftables_enforcer.h"
#include "firewall/open_firewall.h"
#include "resources/version.h"

namespace {

constexpr const char* kUsage =
    "Usage: brenvod [--db PATH] [--firewall=nftables|store] [--apply]\n"
    "The Brenvo firewall service: keeps the firewall store, enforces it in the kernel (table inet\n"
    "brenvo, and the verdicts on new connections to authorized programs), serves it on the system\n"
    "bus as org.brenvo.Firewall1, captures traffic for the window's traffic page, and tells its\n"
    "users of the inbound connections it blocked.\n"
    "\n"
    "  --db PATH            the firewall store (default: /var/lib/brenvo/firewall.db)\n"
    "  --firewall=BACKEND   nftables (default): enforce in the kernel; store: keep the configuration only\n"
    "  --apply              make the kernel hold the store and exit, without the bus (at boot)\n"
    "  --version            print the version\n"
    "  --help               print this help\n"
    "\n"
    "SIGTERM and SIGINT stop the service; SIGHUP applies the store to the kernel again.\n"
    "A store that cannot be opened leaves the kernel closed: the table inet brenvo is kept as it\n"
    "is, or where there is none, one that lets in nothing new is loaded; then brenvod exits with 1.\n";

struct Settings {
  std::string database = "/var/lib/brenvo/firewall.db";
  std::string backend = "nftables";
  bool applyOnly = false;
};

// Nothing to run the service; else the exit status: 0 after --help or --version, 2 for a
// command line not understood.
std::optional<int> ParseCommandLine(int argc, char** argv, Settings* settings) {
  CLI::App app("brenvod");
  app.set_help_flag();  // the help is kUsage
  bool help = false, version = false;
  app.add_flag("--help", help);
  app.add_flag("--version", version);
  app.add_flag("--apply", settings->applyOnly);
  app.add_option("--db", settings->database)->check([](const std::string& path) {
    return path.empty() ? std::string("a path, not nothing") : std::string();
  });
  app.add_option("--firewall", settings->backend)->check([](const std::string& backend) {
    const Result<std::optional<FirewallBackend>> named = ParseBackend(backend);
    const bool held = named.ok() && *named && **named != FirewallBackend::kService;
    return held ? std::string() : "nftables or store, not " + backend;
  });
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    std::fprintf(stderr, "brenvod: %s\n%s", error.what(), kUsage);
    return 2;
  }
  if (help) std::fputs(kUsage, stdout);
  if (version) std::printf("brenvod %s\n", kVersion.productVersion);
  return help || version ? std::optional<int>(0) : std::nullopt;
}

// SIGTERM, SIGINT and SIGHUP arrive on a descriptor, to be read in the loop like the bus.
int BlockedSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&signals, signal);
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  return signalfd(-1, &signals, SFD_CLOEXEC);
}

// Serves the bus until SIGTERM or SIGINT, and signals the blocks that `blocked` is handed.
void Serve(sdbus::IConnection& bus, int signals, FirewallConfiguration& firewall, BlockedAdaptor& blocked) {
  for (;;) {
    while (bus.processPendingRequest()) {
    }
    const sdbus::IConnection::PollData data = bus.getEventLoopPollData();
    pollfd waiting[3] = {{data.fd, data.events, 0}, {signals, POLLIN, 0}, {blocked.WaitingFd(), POLLIN, 0}};
    if (poll(waiting, 3, data.getPollTimeout()) < 0) continue;
    if (waiting[2].revents & POLLIN) blocked.SignalWaiting();
    if (!(waiting[1].revents & POLLIN)) continue;
    signalfd_siginfo info;
    if (read(signals, &info, sizeof info) != sizeof info) continue;
    if (info.ssi_signo != SIGHUP) return;
    if (const Status applied = firewall.ApplyAll(); !applied.ok())
      std::fprintf(stderr, "brenvod: applying the store again failed: %s\n", applied.reason().c_str());
  }
}

// Opens the store and makes the kernel hold it. Where that fails the kernel is left closed,
// never open: a table already there is kept, or a closed one is loaded.
std::optional<OpenedFirewall> Open(const Settings& settings) {
  const FirewallUse use = settings.applyOnly ? FirewallUse::kChanges : FirewallUse::kStays;
  Result<OpenedFirewall> opened = OpenFirewallHere({settings.database, settings.backend}, use);
  if (opened.ok()) return *std::move(opened);
  std::fprintf(stderr, "brenvod: the store %s: %s\n", settings.database.c_str(), opened.status().reason().c_str());
  if (settings.backend != "nftables") return std::nullopt;
  bool kept = false;
  if (const Status closed = NftablesEnforcer().HoldClosed(&kept); !closed.ok())
    std::fprintf(stderr, "brenvod: the kernel's table could not be closed either: %s\n", closed.reason().c_str());
  else
    std::fprintf(stderr, "brenvod: %s\n",
                 kept ? "the kernel keeps the table inet brenvo as it was"
                      : "the kernel holds a closed table inet brenvo: nothing new comes in");
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  if (const std::optional<int> status = ParseCommandLine(argc, argv, &settings)) return *status;
  const int signals = BlockedSignals();

  const std::optional<OpenedFirewall> opened = Open(settings);
  if (!opened) return 1;
  if (settings.applyOnly) return 0;
  try {
    const auto bus = sdbus::createSystemBusConnection();
    PolkitAuthorizer authorizer(*bus);
    FirewallAdaptor adaptor(*bus, opened->configuration, authorizer, settings.backend);
    CaptureServer captures;
    if (!captures.Failure().empty()) {
      std::fprintf(stderr, "brenvod: %s\n", captures.Failure().c_str());
      return 1;
    }
    BusDepartures departures(*bus);
    TrafficAdaptor traffic(*bus, captures, authorizer, departures);
    BlockedAdaptor blocked(*bus, opened->blocked, authorizer, departures);
    bus->requestName(bus::kServiceName);
    std::fprintf(stderr, "brenvod: serving %s on the system bus; store %s; %s\n", bus::kServiceName,
                 settings.database.c_str(), opened->choice.Description().c_str());
    sd_notify(0, "READY=1");
    Serve(*bus, signals, *opened->configuration, blocked);
    sd_notify(0, "STOPPING=1");
    bus->releaseName(bus::kServiceName);
  } catch (const sdbus::Error& error) {
    std::fprintf(stderr, "brenvod: %s\n", error.getMessage().c_str());
    return 1;
  }
  return 0;
}
