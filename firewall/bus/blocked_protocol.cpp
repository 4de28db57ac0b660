#include "firewall/bus/blocked_protocol.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <chrono>

namespace bus {
namespace {

using Clock = std::chrono::system_clock;

std::uint64_t Microseconds(Clock::time_point time) {
  const auto since = std::chrono::duration_cast<std::chrono::microseconds>(time.time_since_epoch()).count();
  return since < 0 ? 0 : static_cast<std::uint64_t>(since);
}

Clock::time_point TimeOf(std::uint64_t microseconds) {
  return Clock::time_point(std::chrono::duration_cast<Clock::duration>(std::chrono::microseconds(microseconds)));
}

}  // namespace

std::string RemoteAddressText(const BlockedFlow& flow) {
  if (flow.family != AF_INET && flow.family != AF_INET6) return "";
  char text[INET6_ADDRSTRLEN] = "";
  return inet_ntop(flow.family, flow.remoteAddress.data(), text, sizeof text) ? text : "";
}

BlockedStruct BlockedToBus(const BlockedFlow& flow) {
  const std::string remote = RemoteAddressText(flow);
  return BlockedStruct(flow.holder.listening, flow.holder.program, static_cast<std::uint32_t>(flow.holder.pid),
                       static_cast<std::uint32_t>(flow.holder.uid), flow.protocol, flow.localPort, flow.count,
                       Microseconds(flow.first), Microseconds(flow.last), remote,
                       remote.empty() ? std::uint16_t{0} : flow.remotePort);
}

BlockedFlow BlockedFromBus(const BlockedStruct& blocked) {
  BlockedFlow flow;
  flow.holder.listening = std::get<0>(blocked);
  flow.holder.program = std::get<1>(blocked);
  flow.holder.pid = static_cast<pid_t>(std::get<2>(blocked));
  flow.holder.uid = static_cast<uid_t>(std::get<3>(blocked));
  flow.protocol = std::get<4>(blocked);
  flow.localPort = std::get<5>(blocked);
  flow.count = std::get<6>(blocked);
  flow.first = TimeOf(std::get<7>(blocked));
  flow.last = TimeOf(std::get<8>(blocked));
  const std::string& remote = std::get<9>(blocked);
  for (const int family : {AF_INET, AF_INET6})
    if (inet_pton(family, remote.c_str(), flow.remoteAddress.data()) == 1) {
      flow.family = family;
      flow.remotePort = std::get<10>(blocked);
      break;
    }
  if (flow.family == 0) flow.remoteAddress.fill(0);
  return flow;
}

}  // namespace bus
