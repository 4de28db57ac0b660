#pragma once
// A firewall opened on the fake, with what must be left after every operation: the
// profile's one reference and no COM string.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "firewall/com/com_object.h"
#include "firewall/com/com_runtime.h"
#include "tests/firewall/fake_firewall.h"
#include "tests/firewall/test_firewall.h"

class FakeFirewallTest : public ::testing::Test {
 protected:
  struct Fault {
    std::string call;
    int after;  // successful calls before the one that fails
    FW_ERROR_CODE expected;
  };

  void SetUp() override {
    CoInitialize(nullptr);
    ASSERT_EQ(firewall.InitFirewallProfile(), FW_OK);
    m_objects = ComObjectsInUse();
    m_strings = SysStringsInUse();
  }

  void ExpectNothingLeaked() const {
    EXPECT_EQ(ComObjectsInUse(), m_objects);
    EXPECT_EQ(SysStringsInUse(), m_strings);
  }

  // Runs `operation` once per fault and checks its code, that `unchanged` holds and that
  // everything it obtained was released.
  void ExpectFaults(const std::vector<Fault>& faults, const std::function<FW_ERROR_CODE()>& operation,
                    const std::function<void()>& unchanged) {
    for (const Fault& fault : faults) {
      SCOPED_TRACE(fault.call + " failing after " + std::to_string(fault.after) + " calls");
      fake.Fail(fault.call, 1, fault.after);
      EXPECT_EQ(operation(), fault.expected);
      unchanged();
      ExpectNothingLeaked();
      fake.Fail(fault.call, 0);
    }
  }

  FakeFirewall fake;
  TestFirewall firewall;

 private:
  std::size_t m_objects = 0;
  std::size_t m_strings = 0;
};
