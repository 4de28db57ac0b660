#pragma once
#include <cstdint>

// The NFLOG group that gets a copy of what the input chain drops for want of a rule, and how
// many a second at most once a burst is spent (see nft::DropLogCommand and DropLog).
inline constexpr std::uint16_t kDropLogGroup = 4151;
inline constexpr int kDropLogRate = 50;
inline constexpr int kDropLogBurst = 100;
