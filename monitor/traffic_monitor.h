#pragma once

#include "monitor/log_file.h"
#include "monitor/packet_fields.h"
#include "monitor/session_list.h"
#include "monitor/winsock.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// The traffic monitor's engine: capture thread, decoding, TCP session tracking and the
// "Logger.txt" log. The traffic page derives from it and shows each segment in its tree;
// tools and tests derive from it to take the segments elsewhere.
//
// A derived class must call StopCapture() in its own destructor: the capture thread calls
// AddPacketToTree until it is joined.
class CTrafficMonitor {
 public:
  // Empties "Logger.txt" in `logDirectory`, starts the socket layer and lists the
  // addresses to capture.
  explicit CTrafficMonitor(const std::string& logDirectory = ".");
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
  // capture that has ended stays off.
  void StartCapture();
  // Wakes the capture thread and joins it; returns within about 100 ms whether or not
  // traffic flows. Never kills the thread.
  void StopCapture();
  bool CaptureLoop();

  bool DecodeIpPacket(const std::uint8_t* data, std::uint32_t length);
  static void AddressToText(std::uint32_t address, std::string& text);
  bool TrackTcpSegment(const std::string& srcAddress, const std::string& dstAddress, const std::uint8_t* tcpHeader,
                       const std::uint8_t* ipHeader, std::int32_t length);
  void LogTcpSegment(const std::string& srcAddress, const std::string& dstAddress, const std::uint8_t* tcpHeader,
                     std::int32_t size, std::string_view marker);
  static std::string FormatTcpFlags(unsigned flags);
  static std::string PadLabel(std::string_view label);
  // Called on the capture thread for every segment that was logged.
  virtual void AddPacketToTree(const PacketFields& fields) = 0;

  static constexpr std::uint32_t kReceiveBufferSize = 0xFFFF;
  static constexpr std::int32_t kGapLimit = 10240000;
  static constexpr std::string_view kNewSession = " /*New session*/ ";
  static constexpr std::string_view kGapBelow = " { Gap < 0 }";
  static constexpr std::string_view kGapAbove = " { Gap > 10 MB }";

 protected:
  // The address StartCapture binds: the first in text order, as a sorted selector shows it.
  virtual std::string SelectedInterface() const;
  // Runs on the stopping thread once the capture has been told to stop and before it is
  // joined: releases whatever the capture thread may be waiting on.
  virtual void ReleaseCaptureThread() {}

  std::atomic<bool> m_bStop{false};
  std::thread m_hThread;
  std::atomic<std::uint32_t> m_dwThreadId{0};
  std::vector<std::string> m_addresses;
  LogFile m_logFile;
  SessionList m_sessions{s_maxSessions};
  std::string m_bindAddress;

 private:
  static std::uint32_t CaptureThreadProc(void* monitor);

  static std::size_t s_maxSessions;

  bool m_captureStarted = false;
  // The capture socket while the loop runs, so that a stop can wake its receive.
  std::atomic<ws::SOCKET> m_socket{ws::INVALID_SOCKET};
};
