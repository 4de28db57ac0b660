#pragma once
// Two network namespaces of the test's own, joined by a veth pair, so that kernel
// firewall changes and real connections never touch the host.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Runs a program without a shell; its exit status, or -1 when it cannot be started.
int RunProgram(const std::vector<std::string>& argv);

class NetnsPair {
 public:
  // Namespace A holds 10.231.0.1/24 and 10.231.0.3/24, fd00:231::1/64 and fd00:231::3/64;
  // namespace B holds 10.231.0.2/24 and fd00:231::2/64; loopback is up in both.
  NetnsPair();
  ~NetnsPair();
  NetnsPair(const NetnsPair&) = delete;
  NetnsPair& operator=(const NetnsPair&) = delete;

  // Empty when the pair is ready; otherwise why it could not be made.
  const std::string& Problem() const { return m_problem; }
  const std::string& A() const { return m_a; }
  const std::string& B() const { return m_b; }

  static constexpr const char* kAddressA = "10.231.0.1";
  static constexpr const char* kAddressB = "10.231.0.2";
  static constexpr const char* kSecondAddressA = "10.231.0.3";
  static constexpr const char* kAddress6A = "fd00:231::1";
  static constexpr const char* kAddress6B = "fd00:231::2";
  static constexpr const char* kSecondAddress6A = "fd00:231::3";

 private:
  std::string m_a, m_b, m_problem;
  bool m_createdA = false, m_createdB = false;
};

// Moves the calling thread into a namespace for the life of the object. Sockets and
// netlink contexts opened meanwhile stay in that namespace after it is left.
class InNamespace {
 public:
  explicit InNamespace(const std::string& name);
  ~InNamespace();
  InNamespace(const InNamespace&) = delete;
  InNamespace& operator=(const InNamespace&) = delete;
  bool Entered() const { return m_entered; }

 private:
  int m_original = -1;
  bool m_entered = false;
};

// Why this process cannot run namespace tests, or "" when it can.
std::string NamespaceTestProblem();

// The nftables generation of the calling thread's network namespace: every change the
// kernel commits moves it on, even one that leaves nothing behind. Nothing when it cannot
// be read.
std::optional<std::uint32_t> RulesetGeneration();
