#pragma once

#include "monitor/packet_tree_model.h"
#include "monitor/session_list.h"

#include <cstddef>
#include <optional>
#include <string>

// The command line of brenvo. Options of the toolkit (single dash, such as -platform) are left
// for it; every option of the program's own starts with two dashes.
struct Options {
  bool help = false;
  bool version = false;
  bool apply = false;       // apply the stored configuration to the kernel firewall and exit
  std::string database;     // --db PATH
  std::string firewall;     // --firewall=service|nftables|store
  std::string captureFile;  // --capture-file PATH
  std::size_t maxSessions = SessionList::kDefaultLimit;      // --max-sessions N
  std::size_t maxSegments = PacketTreeModel::kDefaultLimit;  // --max-segments M
};

// Nothing, with *error set, when the command line is not understood.
std::optional<Options> ParseOptions(int argc, const char* const* argv, std::string* error);

// The --help text; backendInUse says which firewall backend this run would use.
std::string UsageText(const std::string& backendInUse);
