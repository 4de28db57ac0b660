#pragma once

#include "monitor/log_file.h"
#include "monitor/packet_sink.h"
#include "monitor/session_list.h"
#include "monitor/winsock.h"
#include "net/tcp.h"

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// The traffic monitor's engine: capture thread, decoding, TCP session tracking and the
// "Logger.txt" log. Each logged segment goes to a PacketSink: the traffic page's tree, or
// wherever a tool or test takes it.
//
// The capture thread calls no virtual function of the monitor, only the sink's: whoever
// owns the sink stops the capture (StopCapture) before the sink goes.
class CTrafficMonitor {
 public:
  // Empties "Logger.txt" in `logDirectory`, starts the socket layer and lists the
  // addresses to capture.
  explicit CTrafficMonitor(PacketSink& packets, const std::string& logDirectory = ".");
  // The same with a log opened elsewhere (in memory, for instance).
  CTrafficMonitor(PacketSink& packets, LogFile log);
  virtual ~CTrafficMonitor();
  CTrafficMonitor(const CTrafficMonitor&) = delete;
  CTrafficMonitor& operator=(const CTrafficMonitor&) = delete;

  // Makes every capture started from now on read the capture file at `path` (pcap or
  // pcapng) instead of an interface; its end ends the capture quietly. An empty path
  // returns to live capture.
  static void SetCaptureFile(const std::string& path);

  // Makes every monitor built from now on keep at most `limit` open sessions; see SessionList.
  static void SetMaxSessions(std::size_t limit);

  static bool ListLocalAddresses(std::vector<std::string>& addresses);
  // Binds the selected address and starts the capture thread, once per object: a
  // capture that has ended stays off. A live capture needs an address; a capture file
  // is read whole whatever the host's addresses.
  void StartCapture();
  // Wakes the capture thread and joins it; returns within about 100 ms whether or not
  // traffic flows. Never kills the thread. Any thread but the capture thread.
  void StopCapture();
  bool CaptureLoop();

  // The per-segment path carries the addresses as numbers (network order) and makes each
  // text once, where it is written: in the log line, or when the tree shows it.
  bool DecodeIpPacket(const std::uint8_t* data, std::uint32_t length);
  static void AddressToText(std::uint32_t address, std::string& text);
  // `segment` is what follows the IP header; its TCP header is read here, once.
  bool TrackTcpSegment(std::uint32_t srcAddress, std::uint32_t dstAddress, std::span<const std::uint8_t> segment);
  void LogTcpSegment(std::uint32_t srcAddress, std::uint32_t dstAddress, const net::TcpHeader& tcp, std::int32_t size,
                     std::string_view marker);
  // The texts of the log line and the tree (see monitor/text_format.h).
  static std::string_view FormatTcpFlags(unsigned flags);
  static std::string PadLabel(std::string_view label);

  static constexpr std::uint32_t kReceiveBufferSize = 0xFFFF;
  static constexpr std::int32_t kGapLimit = 10240000;
  static constexpr std::string_view kNewSession = " /*New session*/ ";
  static constexpr std::string_view kGapBelow = " { Gap < 0 }";
  static constexpr std::string_view kGapAbove = " { Gap > 10 MB }";

 protected:
  // The address StartCapture binds: the first in text order, as a sorted selector shows it.
  virtual std::string SelectedInterface() const;

  std::atomic<bool> m_bStop{false};
  std::thread m_hThread;
  std::atomic<std::uint32_t> m_dwThreadId{0};
  std::vector<std::string> m_addresses;
  LogFile m_logFile;
  SessionList m_sessions{s_maxSessions};
  std::string m_bindAddress;

 private:
  static std::uint32_t CaptureThreadProc(void* monitor);

  PacketSink& m_packets;
  static std::size_t s_maxSessions;

  bool m_captureStarted = false;
  // The capture socket while the loop runs, so that a stop can wake its receive.
  std::atomic<ws::SOCKET> m_socket{ws::INVALID_SOCKET};
};
