// Opening the current profile, its on/off state and its release, against the fake.
#include <gtest/gtest.h>

#include "firewall/com/com_object.h"
#include "firewall/com/com_runtime.h"
#include "tests/firewall/fake_firewall.h"
#include "tests/firewall/test_firewall.h"

namespace {

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    m_baseObjects = ComObjectsInUse();
  }
  // Only the profile itself may stay referenced while it is held.
  void ExpectOnlyProfileHeld() const { EXPECT_EQ(ComObjectsInUse(), m_baseObjects + (firewall.m_pProfile ? 1 : 0)); }

  FakeFirewall fake;
  TestFirewall firewall;
  std::size_t m_baseObjects = 0;
};

TEST_F(ProfileTest, OpensTheProfileAndReleasesManagerAndPolicy) {
  EXPECT_EQ(firewall.InitFirewallProfile(), FW_OK);
  EXPECT_NE(firewall.m_pProfile, nullptr);
  ExpectOnlyProfileHeld();
  EXPECT_TRUE(firewall.waits.empty());
  EXPECT_EQ(firewall.unavailableShown, 0);
}

TEST_F(ProfileTest, AnUnavailableManagerShowsTheMessageAndExitsWithFailure) {
  fake.Fail("CoCreateInstance(NetFwMgr)");
  testing::internal::CaptureStderr();
  EXPECT_NE(firewall.InitFirewallProfile(), FW_OK);
  const std::string diagnostic = testing::internal::GetCapturedStderr();
  EXPECT_NE(diagnostic.find("0x80004005"), std::string::npos) << diagnostic;
  EXPECT_EQ(firewall.unavailableShown, 1);
  EXPECT_EQ(firewall.exitedWith, std::vector<int>{1});
  EXPECT_TRUE(firewall.endedWith.empty());
  EXPECT_EQ(fake.Calls("INetFwMgr::get_LocalPolicy"), 0);
  EXPECT_EQ(firewall.m_pProfile, nullptr);
}

TEST_F(ProfileTest, AFirewallAnsweringOnTheThirdAttemptIsOpenedAfterTwoWaits) {
  fake.Fail("INetFwMgr::get_LocalPolicy", 1);
  fake.Fail("INetFwPolicy::get_CurrentProfile", 1);
  EXPECT_EQ(firewall.InitFirewallProfile(), FW_OK);
  EXPECT_EQ(firewall.waits, (std::vector<unsigned>{5000, 5000}));
  EXPECT_EQ(firewall.unavailableShown, 0);
  EXPECT_TRUE(firewall.endedWith.empty());
  EXPECT_NE(firewall.m_pProfile, nullptr);
  ExpectOnlyProfileHeld();  // the policies of the failed attempts are released
}

TEST_F(ProfileTest, AFirewallThatNeverAnswersEndsTheDialogWithTheFirstFailure) {
  // The first attempt fails at the profile (4), every retry at the policy (3).
  fake.Fail("INetFwPolicy::get_CurrentProfile");
  fake.Fail("INetFwMgr::get_LocalPolicy", -1, 1);
  EXPECT_EQ(firewall.InitFirewallProfile(), FW_E_CURRENT_PROFILE);
  EXPECT_EQ(firewall.waits, std::vector<unsigned>(20, 5000));
  EXPECT_EQ(fake.Calls("INetFwMgr::get_LocalPolicy"), 21);
  EXPECT_EQ(firewall.unavailableShown, 1);
  EXPECT_EQ(firewall.endedWith, std::vector<int>{0});
  EXPECT_TRUE(firewall.exitedWith.empty());
  EXPECT_EQ(firewall.m_pProfile, nullptr);
  ExpectOnlyProfileHeld();
}

TEST_F(ProfileTest, OpeningTwiceCreatesNothing) {
  ASSERT_EQ(firewall.InitFirewallProfile(), FW_OK);
  EXPECT_EQ(firewall.InitFirewallProfile(), FW_E_PROFILE_STATE);
  EXPECT_EQ(fake.Calls("CoCreateInstance(NetFwMgr)"), 1);
  ExpectOnlyProfileHeld();
}

TEST_F(ProfileTest, WithoutAProfileEveryOperationFailsAndTouchesNothing) {
  BOOL on = 7;
  EXPECT_EQ(firewall.QueryFirewallOn(&on), FW_E_PROFILE_STATE);
  EXPECT_EQ(on, FALSE);
  EXPECT_EQ(firewall.SwitchFirewallOn(), FW_E_PROFILE_STATE);
  EXPECT_EQ(firewall.SwitchFirewallOff(), FW_E_PROFILE_STATE);
  EXPECT_EQ(fake.Calls("INetFwProfile::get_FirewallEnabled"), 0);
  EXPECT_EQ(fake.Calls("INetFwProfile::put_FirewallEnabled"), 0);
}

TEST_F(ProfileTest, QueryReportsAnyNonZeroFlagAsOnAndAFailedReadAsOff) {
  ASSERT_EQ(firewall.InitFirewallProfile(), FW_OK);
  BOOL on = 7;
  fake.firewallEnabled = 1;  // not VARIANT_TRUE, yet not false either
  EXPECT_EQ(firewall.QueryFirewallOn(&on), FW_OK);
  EXPECT_EQ(on, TRUE);
  fake.Fail("INetFwProfile::get_FirewallEnabled", 1);
  EXPECT_EQ(firewall.QueryFirewallOn(&on), FW_E_READ_FIREWALL_STATE);
  EXPECT_EQ(on, FALSE);
}

TEST_F(ProfileTest, SwitchesWriteOnlyAChangeOfState) {
  ASSERT_EQ(firewall.InitFirewallProfile(), FW_OK);
  EXPECT_EQ(firewall.SwitchFirewallOff(), FW_OK);
  EXPECT_EQ(fake.Calls("INetFwProfile::put_FirewallEnabled"), 0);
  EXPECT_EQ(firewall.SwitchFirewallOn(), FW_OK);
  EXPECT_EQ(fake.firewallEnabled, VARIANT_TRUE);
  EXPECT_EQ(firewall.SwitchFirewallOn(), FW_OK);
  EXPECT_EQ(fake.Calls("INetFwProfile::put_FirewallEnabled"), 1);
  EXPECT_EQ(firewall.SwitchFirewallOff(), FW_OK);
  EXPECT_EQ(fake.firewallEnabled, VARIANT_FALSE);
  EXPECT_EQ(fake.Calls("INetFwProfile::put_FirewallEnabled"), 2);
  ExpectOnlyProfileHeld();
}

TEST_F(ProfileTest, ASwitchReportsTheStepThatFailed) {
  ASSERT_EQ(firewall.InitFirewallProfile(), FW_OK);
  fake.Fail("INetFwProfile::get_FirewallEnabled", 1);
  EXPECT_EQ(firewall.SwitchFirewallOn(), FW_E_READ_FIREWALL_STATE);
  EXPECT_EQ(fake.Calls("INetFwProfile::put_FirewallEnabled"), 0);
  fake.Fail("INetFwProfile::put_FirewallEnabled", 1);
  EXPECT_EQ(firewall.SwitchFirewallOn(), FW_E_WRITE_FIREWALL_STATE);
  EXPECT_EQ(fake.firewallEnabled, VARIANT_FALSE);
  fake.firewallEnabled = VARIANT_TRUE;
  fake.Fail("INetFwProfile::put_FirewallEnabled", 1);
  EXPECT_EQ(firewall.SwitchFirewallOff(), FW_E_WRITE_FIREWALL_STATE);
  ExpectOnlyProfileHeld();
}

TEST_F(ProfileTest, ReleasingTwiceReleasesOnce) {
  ASSERT_EQ(firewall.InitFirewallProfile(), FW_OK);
  EXPECT_EQ(firewall.ReleaseFirewallProfile(), FW_OK);
  EXPECT_EQ(firewall.m_pProfile, nullptr);
  EXPECT_EQ(ComObjectsInUse(), m_baseObjects);
  EXPECT_EQ(firewall.ReleaseFirewallProfile(), FW_OK);
  EXPECT_EQ(ComObjectsInUse(), m_baseObjects);
}

}  // namespace
