#pragma once

#include "monitor/capture_source.h"

#include <atomic>
#include <memory>
#include <string>

struct pcap;

namespace ws {

// Capture through libpcap: either the live interface that carries the bound address,
// filtered in the kernel to that address, or a capture file (pcap or pcapng) read whole.
class PcapSource final : public CaptureSource {
 public:
  PcapSource() = default;  // live capture
  explicit PcapSource(std::string captureFile);
  ~PcapSource() override;
  PcapSource(const PcapSource&) = delete;
  PcapSource& operator=(const PcapSource&) = delete;

  int Open() override;
  int Bind(std::uint32_t address) override;
  int Start() override;
  int Receive(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& received) override;
  int ReceiveReady(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& received) override;
  // A file's datagrams come in batches; a live handle's one at a time.
  int ReceiveBatch(std::span<std::uint8_t> scratch, const DatagramTaker& take) override;
  void Wake() override;

 private:
  int StartLive();
  // Where libpcap holds it, without a copy.
  int NextDatagram(std::span<std::uint8_t> scratch, bool wait, std::span<const std::uint8_t>& datagram) override;

  std::string m_captureFile;
  std::string m_interface;
  bool m_loopback = false;
  std::uint32_t m_address = 0;
  int m_linkType = 0;
  std::unique_ptr<char[]> m_fileBuffer;  // the capture file's stdio buffer, freed after the handle
  std::atomic<pcap*> m_handle{nullptr};
  std::atomic<bool> m_woken{false};
  bool m_waits = true;  // whether the live handle blocks
};

}  // namespace ws
