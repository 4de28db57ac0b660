#pragma once

#include <memory>

#include "monitor/capture_source.h"
#include "monitor/winsock.h"

// A capture source without traffic, so that a test of the whole window never captures the
// host's packets. Installed for the life of the object.
class ScopedSilentCapture {
 public:
  ScopedSilentCapture() {
    ws::SetSourceFactory([] { return std::make_unique<Silent>(); });
  }
  ~ScopedSilentCapture() { ws::SetSourceFactory({}); }

 private:
  class Silent final : public ws::CaptureSource {
   public:
    int Open() override { return 0; }
    int Bind(std::uint32_t) override { return 0; }
    int Start() override { return 0; }
    int Receive(std::uint8_t*, std::uint32_t, std::uint32_t&) override { return ws::WSAEDISCON; }
    void Wake() override {}
  };
};
