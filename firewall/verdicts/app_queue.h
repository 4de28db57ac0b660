#pragma once
#include <cstdint>

// The queue that the first packet of a new inbound flow waits in for a verdict, while an
// authorized application is enabled. Without a reader, the kernel drops what it queues.
inline constexpr std::uint16_t kAppQueue = 4151;
