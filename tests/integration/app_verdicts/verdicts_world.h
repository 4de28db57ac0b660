#pragma once
// The firewall of this process, on, in namespace A, answering for authorized programs as the
// window does, with copies of one echo server in the test's folder ("authorized", "other")
// for a peer in namespace B to connect to. Needs root; skips with the reason where it cannot
// run.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "firewall/com/com_runtime.h"
#include "firewall/local_registration.h"
#include "firewall/nft/nftables_enforcer.h"
#include "tests/firewall/test_firewall.h"
#include "tests/integration/support/echo_process.h"
#include "tests/integration/support/netns.h"
#include "tests/integration/support/sockets.h"
#include "tests/support/temp_dir.h"

class VerdictsWorld : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string problem = NamespaceTestProblem(); !problem.empty()) GTEST_SKIP() << problem;
    m_netns = std::make_unique<NetnsPair>();
    if (!m_netns->Problem().empty()) GTEST_SKIP() << m_netns->Problem();
    m_inA = std::make_unique<InNamespace>(m_netns->A());
    ASSERT_TRUE(m_inA->Entered());
    auto enforcer = std::make_shared<NftablesEnforcer>(true);
    if (const Status may = enforcer->MayChangeKernelFirewall(); !may.ok())
      GTEST_SKIP() << "libnftables cannot change the firewall of the test namespace: " << may.reason();
    m_blocked = enforcer->Blocked();
    CoInitialize(nullptr);
    ASSERT_TRUE(RegisterLocalFirewall(m_dir.File("firewall.db"), enforcer).ok());
    m_firewall = std::make_unique<TestFirewall>();
    ASSERT_EQ(m_firewall->InitFirewallProfile(), FW_OK);
    ASSERT_EQ(m_firewall->SwitchFirewallOn(), FW_OK);
    ASSERT_TRUE(EchoProcess::CopyTo(Program("authorized")));
    ASSERT_TRUE(EchoProcess::CopyTo(Program("other")));
  }
  void TearDown() override {
    m_firewall.reset();
    RevokeFirewallClasses();  // the last reference to the enforcer: its threads end
    m_inA.reset();
    m_netns.reset();
  }

  std::string Program(const std::string& name) const { return m_dir.File(name + "/echo"); }
  bool TcpFromB(const char* address, int port) { return TcpFrom(m_netns->B(), address, port); }

  TempDir m_dir;
  std::unique_ptr<NetnsPair> m_netns;
  std::unique_ptr<InNamespace> m_inA;
  std::unique_ptr<TestFirewall> m_firewall;
  BlockedFlows* m_blocked = nullptr;  // the enforcer's record
};
