#pragma once
// A test in a world of its own: network namespaces A and B joined by a veth pair, a private
// system bus with real polkitd, and brenvod running in A. Skips with the reason where the
// world cannot be made (not root, a program missing).
#include <gtest/gtest.h>

#include <memory>

#include "tests/integration/support/netns.h"
#include "tests/integration/support/service_world.h"

class WorldTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string problem = ServiceWorld::Problem(); !problem.empty()) GTEST_SKIP() << problem;
    m_netns = std::make_unique<NetnsPair>();
    if (!m_netns->Problem().empty()) GTEST_SKIP() << m_netns->Problem();
    m_world = std::make_unique<ServiceWorld>();
    ASSERT_EQ(m_world->Failure(), "");
    ASSERT_TRUE(m_world->StartService(m_netns->A())) << m_world->Failure();
  }
  void TearDown() override {
    m_world.reset();
    m_netns.reset();
  }

  std::unique_ptr<NetnsPair> m_netns;
  std::unique_ptr<ServiceWorld> m_world;
};
