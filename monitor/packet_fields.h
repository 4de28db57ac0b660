#pragma once

#include <string>

// The texts of one decoded TCP segment, handed from the log step to the tree.
struct PacketFields {
  std::string srcAddress;
  std::string dstAddress;
  std::string srcPort;
  std::string dstPort;
  std::string size;
  std::string flags;
  std::string seq;
  std::string ack;
};
