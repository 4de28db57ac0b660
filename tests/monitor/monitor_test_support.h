#pragma once

// Shared fixtures of the monitor tests: a scripted capture source, a monitor that records
// what reaches its tree, a temporary directory and a capture of the standard streams.

#include "monitor/traffic_monitor.h"
#include "tests/support/temp_dir.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace monitor_test {

// What a scripted socket does, shared with the test that reads it afterwards.
struct Script {
  int openError = 0;
  int bindError = 0;
  int startError = 0;
  std::deque<std::vector<std::uint8_t>> datagrams;
  int errorAfterDatagrams = 0;  // 0: block until woken once the datagrams are out
  bool endAfterDatagrams = false;

  std::mutex mutex;
  std::condition_variable changed;
  std::uint32_t boundAddress = 0;
  bool woken = false;
  int receives = 0;
};

class ScriptedSource : public ws::CaptureSource {
 public:
  explicit ScriptedSource(Script& script) : m_script(script) {}
  int Open() override { return m_script.openError; }
  int Bind(std::uint32_t address) override;
  int Start() override { return m_script.startError; }
  int Receive(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& received) override;
  // The datagrams of the script are all there at once.
  int ReceiveReady(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& received) override;
  void Wake() override;

 private:
  // The next datagram of the script, if there is one and no wake-up came; the lock is held.
  bool TakeNext(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& received);

  Script& m_script;
};

// Routes every socket created while it lives to `script`.
class ScriptedCapture {
 public:
  explicit ScriptedCapture(Script& script);
  ~ScriptedCapture();
};

// A tree that is a list of the segments it was handed.
class PacketRecorder : public PacketSink {
 public:
  void AddPacketToTree(const PacketRecord& packet) override;
  std::vector<PacketRecord> Packets();
  // Waits up to `seconds` for at least `count` packets.
  bool WaitForPackets(std::size_t count, double seconds = 5);

 private:
  std::mutex m_mutex;
  std::condition_variable m_added;
  std::vector<PacketRecord> m_packets;
};

// A monitor whose tree is a PacketRecorder (a base, so that it is made before the engine).
class RecordingMonitor : public PacketRecorder, public CTrafficMonitor {
 public:
  explicit RecordingMonitor(const std::filesystem::path& logDirectory)
      : CTrafficMonitor(*this, logDirectory.string()) {}
  ~RecordingMonitor() override { StopCapture(); }

  using CTrafficMonitor::m_addresses;
  using CTrafficMonitor::m_bindAddress;
  using CTrafficMonitor::m_hThread;
  using CTrafficMonitor::m_sessions;
};

// Redirects file descriptors 1 and 2 to files while it lives; Out() and Err() give what
// was written so far (after flushing the C streams).
class StreamCapture {
 public:
  StreamCapture();
  ~StreamCapture();
  std::string Out();
  std::string Err();

 private:
  TempDir m_dir;
  int m_savedOut, m_savedErr;
};

std::vector<std::string> Lines(const std::string& text);  // split at CR LF

}  // namespace monitor_test
