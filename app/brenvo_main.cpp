#include "app/brenvo_main.h"

#include <cstdio>
#include <cstdlib>

#include "app/blocked_watch.h"
#include "app/options.h"
#include "firewall/com/com_runtime.h"
#include "firewall/local_registration.h"
#include "firewall/open_firewall.h"
#include "framework/win_app.h"
#include "monitor/service_source.h"
#include "monitor/sniffer_dlg.h"
#include "monitor/traffic_monitor.h"
#include "resources/version.h"

namespace {

// The command line wins over the environment; an empty result means the built-in default.
std::string Setting(const std::string& option, const char* variable) {
  if (!option.empty()) return option;
  const char* value = std::getenv(variable);
  return value ? value : "";
}

// The window takes the documented failure paths, which show nothing; the reason a change
// was refused goes to standard error.
void ReportServiceFailure(const std::string& reason) { std::fprintf(stderr, "brenvo: %s\n", reason.c_str()); }

}  // namespace

int BrenvoMain(int argc, char** argv) {
  std::string error;
  const std::optional<Options> options = ParseOptions(argc, argv, &error);
  if (!options) {
    std::fprintf(stderr, "brenvo: %s\n%s", error.c_str(), UsageText("").c_str());
    return 2;
  }
  if (options->version) {
    std::printf("%s %s\n", kVersion.productName, kVersion.productVersion);
    return 0;
  }
  const FirewallSettings config{Setting(options->database, "BRENVO_DB"), Setting(options->firewall, "BRENVO_FIREWALL")};
  if (options->help) {
    BackendChoice choice;
    const Status chosen = ChooseFirewallBackend(config.backend, &choice);
    std::printf("%s", UsageText(chosen.ok() ? choice.Description() : chosen.reason()).c_str());
    return 0;
  }
  if (!options->captureFile.empty()) {
    // Fail now, in words, rather than later as a socket error on standard output.
    if (std::FILE* file = std::fopen(options->captureFile.c_str(), "rb")) {
      std::fclose(file);
    } else {
      std::fprintf(stderr, "brenvo: cannot read the capture file %s\n", options->captureFile.c_str());
      return 2;
    }
    CTrafficMonitor::SetCaptureFile(options->captureFile);
  }
  CTrafficMonitor::SetMaxSessions(options->maxSessions);
  CSnifferDlg::SetMaxSegments(options->maxSegments);
  if (const Status registered = RegisterFirewall(config, ReportServiceFailure); !registered.ok()) {
    std::fprintf(stderr, "brenvo: %s\n", registered.reason().c_str());
    return 2;
  }
  const auto backend = RegisteredBackend();
  // The user asked for no backend and may expect the kernel to enforce the rules.
  if (backend && backend->FellBackToStore())
    std::fprintf(stderr, "brenvo: firewall backend: %s\n", backend->Description().c_str());
  // Where the service runs, it captures for the window, which then needs no right to capture.
  if (backend && backend->backend == FirewallBackend::kService && options->captureFile.empty())
    ws::SetSourceFactory([] { return std::make_unique<ws::ServiceSource>(); });
  if (options->apply) {
    const Status applied = ApplyFirewall(config);
    if (applied.ok()) return 0;
    std::fprintf(stderr, "brenvo: %s\n", applied.reason().c_str());
    return 1;
  }
  // A replayed capture file is about another time and place: no notices then.
  if (options->captureFile.empty()) SetBlockedSourceFactory(&RegisteredBlockedSource);
  return AfxWinMain(argc, argv);
}
