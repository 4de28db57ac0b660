// The authorized-application operations against the fake.
#include <gtest/gtest.h>

#include "tests/firewall/fake_fixture.h"

namespace {

using App = FakeFirewall::App;
using AppsTest = FakeFirewallTest;

constexpr const char16_t* kPath = u"/usr/bin/curl";

TEST_F(AppsTest, EveryFailingStepOfAnAddIsReportedAndNothingIsAdded) {
  ExpectFaults(
      {
          {"INetFwProfile::get_AuthorizedApplications", 0, FW_E_APP_COLLECTION},  // in the query
          {"INetFwProfile::get_AuthorizedApplications", 1, FW_E_APP_COLLECTION},
          {"CoCreateInstance(NetFwAuthorizedApplication)", 0, FW_E_CREATE_APP},
          {"INetFwAuthorizedApplication::put_ProcessImageFileName", 0, FW_E_SET_IMAGE_PATH},
          {"INetFwAuthorizedApplication::put_Name", 0, FW_E_SET_NAME},
          {"INetFwAuthorizedApplications::Add", 0, FW_E_ADD_TO_COLLECTION},
      },
      [&] { return firewall.AddApp(kPath, u"curl"); }, [&] { EXPECT_TRUE(fake.apps.empty()); });
  EXPECT_EQ(firewall.AddApp(kPath, u"curl"), FW_OK);
  EXPECT_EQ(fake.apps, (std::vector<App>{{kPath, u"curl", VARIANT_TRUE}}));
}

TEST_F(AppsTest, EveryFailingStepOfQueryRemoveAndToggleIsReported) {
  fake.apps = {{kPath, u"curl", VARIANT_TRUE}};
  const auto unchanged = [&] { EXPECT_EQ(fake.apps, (std::vector<App>{{kPath, u"curl", VARIANT_TRUE}})); };
  BOOL enabled = TRUE;
  ExpectFaults(
      {
          {"INetFwProfile::get_AuthorizedApplications", 0, FW_E_APP_COLLECTION},
          // A collection that cannot be read is not taken for one without the entry.
          {"INetFwAuthorizedApplications::Item", 0, FW_E_APP_COLLECTION},
          {"INetFwAuthorizedApplication::get_Enabled", 0, FW_E_APP_ENABLED_STATE},
      },
      [&] { return firewall.QueryAppEnabled(kPath, &enabled); }, [&] { EXPECT_EQ(enabled, FALSE); });
  ExpectFaults(
      {
          {"INetFwProfile::get_AuthorizedApplications", 0, FW_E_APP_COLLECTION},
          {"INetFwProfile::get_AuthorizedApplications", 1, FW_E_APP_COLLECTION},
          {"INetFwAuthorizedApplications::Item", 0, FW_E_APP_COLLECTION},
          {"INetFwAuthorizedApplication::get_Enabled", 0, FW_E_APP_ENABLED_STATE},
          {"INetFwAuthorizedApplications::Remove", 0, FW_E_REMOVE_FROM_COLLECTION},
      },
      [&] { return firewall.RemoveApp(kPath); }, unchanged);
  ExpectFaults(
      {
          {"INetFwProfile::get_AuthorizedApplications", 0, FW_E_APP_COLLECTION},
          {"INetFwAuthorizedApplications::Item", 0, FW_E_APP_COLLECTION},
          {"INetFwAuthorizedApplication::put_Enabled", 0, FW_E_APP_ENABLED_STATE},
      },
      [&] { return firewall.ToggleAppEnabled(kPath, 1); }, unchanged);
  // An add of a present entry reports the failure of its query.
  ExpectFaults(
      {
          {"INetFwAuthorizedApplications::Item", 0, FW_E_APP_COLLECTION},
          {"INetFwAuthorizedApplication::get_Enabled", 0, FW_E_APP_ENABLED_STATE},
      },
      [&] { return firewall.AddApp(kPath, u"other"); }, unchanged);
}

TEST_F(AppsTest, AnEnabledEntryIsKeptAndADisabledOneReplacedOnAdd) {
  fake.apps = {{kPath, u"curl", VARIANT_TRUE}};
  EXPECT_EQ(firewall.AddApp(kPath, u"another name"), FW_OK);
  EXPECT_EQ(fake.apps, (std::vector<App>{{kPath, u"curl", VARIANT_TRUE}}));
  EXPECT_EQ(fake.Calls("CoCreateInstance(NetFwAuthorizedApplication)"), 0);

  fake.apps[0].enabled = VARIANT_FALSE;
  EXPECT_EQ(firewall.AddApp(kPath, u"another name"), FW_OK);
  EXPECT_EQ(fake.apps, (std::vector<App>{{kPath, u"another name", VARIANT_TRUE}}));
  ExpectNothingLeaked();
}

TEST_F(AppsTest, OnlyAnEnabledEntryIsRemoved) {
  fake.apps = {{kPath, u"curl", VARIANT_FALSE}};
  EXPECT_EQ(firewall.RemoveApp(kPath), FW_OK);
  EXPECT_EQ(firewall.RemoveApp(u"/usr/bin/absent"), FW_OK);
  EXPECT_EQ(fake.apps.size(), 1u);
  EXPECT_EQ(fake.Calls("INetFwAuthorizedApplications::Remove"), 0);
  fake.apps[0].enabled = VARIANT_TRUE;
  EXPECT_EQ(firewall.RemoveApp(kPath), FW_OK);
  EXPECT_TRUE(fake.apps.empty());
  ExpectNothingLeaked();
}

TEST_F(AppsTest, ToggleWritesTheOppositeOfTheShownStateWithoutReadingIt) {
  fake.apps = {{kPath, u"curl", VARIANT_FALSE}};
  EXPECT_EQ(firewall.ToggleAppEnabled(kPath, 1), FW_OK);
  EXPECT_EQ(fake.apps[0].enabled, VARIANT_FALSE);  // written false although already false
  for (int shown : {0, -1, 7}) {
    fake.apps[0].enabled = VARIANT_FALSE;
    EXPECT_EQ(firewall.ToggleAppEnabled(kPath, shown), FW_OK);
    EXPECT_EQ(fake.apps[0].enabled, VARIANT_TRUE) << shown;
  }
  EXPECT_EQ(fake.Calls("INetFwAuthorizedApplication::get_Enabled"), 0);
  EXPECT_EQ(fake.Calls("INetFwAuthorizedApplication::put_Enabled"), 4);
  EXPECT_EQ(firewall.ToggleAppEnabled(u"/usr/bin/absent", 1), FW_OK);
  EXPECT_EQ(fake.Calls("INetFwAuthorizedApplication::put_Enabled"), 4);
  ExpectNothingLeaked();
}

TEST_F(AppsTest, NullAndEmptyArgumentsAreToldApart) {
  BOOL enabled = TRUE;
  EXPECT_EQ(firewall.QueryAppEnabled(nullptr, &enabled), FW_E_NULL_ARGUMENT);
  EXPECT_EQ(enabled, FALSE);
  EXPECT_EQ(firewall.AddApp(nullptr, u"curl"), FW_E_NULL_ARGUMENT);
  EXPECT_EQ(firewall.AddApp(kPath, nullptr), FW_E_NULL_ARGUMENT);
  EXPECT_EQ(firewall.RemoveApp(nullptr), FW_E_NULL_ARGUMENT);
  EXPECT_EQ(firewall.ToggleAppEnabled(nullptr, 1), FW_E_NULL_ARGUMENT);
  EXPECT_EQ(firewall.QueryAppEnabled(u"", &enabled), FW_E_STRING_ALLOC);
  EXPECT_EQ(firewall.AddApp(u"", u"curl"), FW_E_STRING_ALLOC);
  EXPECT_EQ(firewall.RemoveApp(u""), FW_E_STRING_ALLOC);
  EXPECT_EQ(firewall.ToggleAppEnabled(u"", 1), FW_E_STRING_ALLOC);
  EXPECT_EQ(fake.Calls("CoCreateInstance(NetFwAuthorizedApplication)"), 0);
  ExpectNothingLeaked();
}

TEST_F(AppsTest, AnEmptyNameFailsOnlyAfterTheNewEntryGotItsPath) {
  EXPECT_EQ(firewall.AddApp(kPath, u""), FW_E_STRING_ALLOC);
  EXPECT_EQ(fake.Calls("CoCreateInstance(NetFwAuthorizedApplication)"), 1);
  EXPECT_EQ(fake.Calls("INetFwAuthorizedApplication::put_ProcessImageFileName"), 1);
  EXPECT_EQ(fake.Calls("INetFwAuthorizedApplication::put_Name"), 0);
  EXPECT_TRUE(fake.apps.empty());
  ExpectNothingLeaked();
}

TEST_F(AppsTest, WithoutAProfileNothingIsTouched) {
  firewall.ReleaseFirewallProfile();
  BOOL enabled = TRUE;
  EXPECT_EQ(firewall.QueryAppEnabled(kPath, &enabled), FW_E_PROFILE_STATE);
  EXPECT_EQ(enabled, FALSE);
  EXPECT_EQ(firewall.AddApp(kPath, u"curl"), FW_E_PROFILE_STATE);
  EXPECT_EQ(firewall.RemoveApp(kPath), FW_E_PROFILE_STATE);
  EXPECT_EQ(firewall.ToggleAppEnabled(kPath, 1), FW_E_PROFILE_STATE);
  fake.apps = {{kPath, u"curl", VARIANT_TRUE}};
  firewall.ListAuthorizedApps();
  EXPECT_TRUE(firewall.programRows.empty());
  EXPECT_EQ(fake.Calls("INetFwProfile::get_AuthorizedApplications"), 0);
}

TEST_F(AppsTest, ListingHandsOutOneRowPerReadableEntryInOrder) {
  fake.apps = {{u"/opt/a", u"A", VARIANT_TRUE},
               {u"/opt/b", u"B", VARIANT_FALSE},
               {u"/opt/c", u"C", 1},
               {u"/opt/d", u"D", VARIANT_TRUE}};
  // The second entry's name cannot be read; the fourth's path cannot.
  fake.Fail("INetFwAuthorizedApplication::get_Name", 1, 1);
  fake.Fail("INetFwAuthorizedApplication::get_ProcessImageFileName", 1, 2);
  firewall.ListAuthorizedApps();
  EXPECT_EQ(firewall.programRows, (std::vector<ProgramRow>{{"A", "/opt/a", 1}, {"C", "/opt/c", 0}, {"D", "", 1}}));
  ExpectNothingLeaked();
}

TEST_F(AppsTest, ListingStopsQuietlyWhereTheCollectionCannotBeWalked) {
  fake.apps = {{kPath, u"curl", VARIANT_TRUE}};
  fake.Fail("INetFwProfile::get_AuthorizedApplications", 1);
  firewall.ListAuthorizedApps();
  fake.Fail("INetFwAuthorizedApplications::get__NewEnum", 1);
  firewall.ListAuthorizedApps();
  EXPECT_TRUE(firewall.programRows.empty());
  firewall.sinksAttached = false;
  firewall.ListAuthorizedApps();
  EXPECT_EQ(fake.Calls("INetFwAuthorizedApplications::get__NewEnum"), 1);
  ExpectNothingLeaked();
}

TEST_F(AppsTest, ListedTextsAreUtf8CutAtACharacterBoundary) {
  const std::u16string longName(300, u'\u00E9');  // two bytes each in UTF-8
  fake.apps = {{u"/opt/caf\u00E9", u"Caf\u00E9 \u2615 \U0001F525", VARIANT_TRUE}, {kPath, longName, VARIANT_TRUE}};
  firewall.ListAuthorizedApps();
  ASSERT_EQ(firewall.programRows.size(), 2u);
  EXPECT_EQ(firewall.programRows[0].name, "Caf\xC3\xA9 \xE2\x98\x95 \xF0\x9F\x94\xA5");
  EXPECT_EQ(firewall.programRows[0].path, "/opt/caf\xC3\xA9");
  std::string expected;
  for (int i = 0; i < 127; ++i) expected += "\xC3\xA9";
  EXPECT_EQ(firewall.programRows[1].name, expected);  // 254 bytes: a 128th would need 256
}

}  // namespace
