// The open-port operations against the fake.
#include <gtest/gtest.h>

#include "tests/firewall/fake_fixture.h"

namespace {

using Port = FakeFirewall::Port;
using PortsTest = FakeFirewallTest;

TEST_F(PortsTest, EveryFailingStepOfAnAddIsReportedAndNothingIsAdded) {
  ExpectFaults(
      {
          {"INetFwProfile::get_GloballyOpenPorts", 0, FW_E_PORT_COLLECTION},  // in the query
          {"INetFwProfile::get_GloballyOpenPorts", 1, FW_E_PORT_COLLECTION},
          {"CoCreateInstance(NetFwOpenPort)", 0, FW_E_CREATE_PORT},
          {"INetFwOpenPort::put_Port", 0, FW_E_SET_PORT_NUMBER},
          {"INetFwOpenPort::put_Protocol", 0, FW_E_SET_PROTOCOL},
          {"INetFwOpenPort::put_Name", 0, FW_E_SET_NAME},
          {"INetFwOpenPorts::Add", 0, FW_E_ADD_TO_COLLECTION},
      },
      [&] { return firewall.AddPort(8080, NET_FW_IP_PROTOCOL_TCP, u"web"); }, [&] { EXPECT_TRUE(fake.ports.empty()); });
  EXPECT_EQ(firewall.AddPort(8080, NET_FW_IP_PROTOCOL_TCP, u"web"), FW_OK);
  EXPECT_EQ(fake.ports, (std::vector<Port>{{8080, 6, u"web", VARIANT_TRUE}}));
}

TEST_F(PortsTest, EveryFailingStepOfQueryRemoveAndToggleIsReported) {
  fake.ports = {{53, 17, u"dns", VARIANT_TRUE}};
  const auto unchanged = [&] { EXPECT_EQ(fake.ports, (std::vector<Port>{{53, 17, u"dns", VARIANT_TRUE}})); };
  BOOL enabled = TRUE;
  ExpectFaults(
      {
          {"INetFwProfile::get_GloballyOpenPorts", 0, FW_E_PORT_COLLECTION},
          // A collection that cannot be read is not taken for one without the port.
          {"INetFwOpenPorts::Item", 0, FW_E_PORT_COLLECTION},
          {"INetFwOpenPort::get_Enabled", 0, FW_E_PORT_ENABLED_STATE},
      },
      [&] { return firewall.QueryPortEnabled(53, 17, &enabled); }, [&] { EXPECT_EQ(enabled, FALSE); });
  ExpectFaults(
      {
          {"INetFwProfile::get_GloballyOpenPorts", 0, FW_E_PORT_COLLECTION},
          {"INetFwProfile::get_GloballyOpenPorts", 1, FW_E_PORT_COLLECTION},
          {"INetFwOpenPorts::Item", 0, FW_E_PORT_COLLECTION},
          {"INetFwOpenPort::get_Enabled", 0, FW_E_PORT_ENABLED_STATE},
          {"INetFwOpenPorts::Remove", 0, FW_E_REMOVE_FROM_COLLECTION},
      },
      [&] { return firewall.RemovePort(53, 17); }, unchanged);
  ExpectFaults(
      {
          {"INetFwProfile::get_GloballyOpenPorts", 0, FW_E_PORT_COLLECTION},
          {"INetFwOpenPorts::Item", 0, FW_E_PORT_COLLECTION},
          {"INetFwOpenPort::put_Enabled", 0, FW_E_PORT_ENABLED_STATE},
      },
      [&] { return firewall.TogglePortEnabled(53, 17, 1); }, unchanged);
  // An add cannot tell an enabled port from a missing one without reading the collection.
  ExpectFaults(
      {{"INetFwOpenPorts::Item", 0, FW_E_PORT_COLLECTION}}, [&] { return firewall.AddPort(53, 17, u"other"); },
      unchanged);
}

TEST_F(PortsTest, AMissingNameFailsAfterNumberAndProtocolWereSet) {
  for (const char16_t* name : {static_cast<const char16_t*>(nullptr), u""}) {
    EXPECT_EQ(firewall.AddPort(8080, NET_FW_IP_PROTOCOL_TCP, name), FW_E_STRING_ALLOC);
    EXPECT_TRUE(fake.ports.empty());
  }
  EXPECT_EQ(fake.Calls("INetFwOpenPort::put_Protocol"), 2);
  EXPECT_EQ(fake.Calls("INetFwOpenPort::put_Name"), 0);
  ExpectNothingLeaked();
}

TEST_F(PortsTest, OneNumberIsTwoPortsForTcpAndUdp) {
  EXPECT_EQ(firewall.AddPort(80, NET_FW_IP_PROTOCOL_TCP, u"web"), FW_OK);
  EXPECT_EQ(firewall.AddPort(80, NET_FW_IP_PROTOCOL_UDP, u"quic"), FW_OK);
  EXPECT_EQ(firewall.TogglePortEnabled(80, NET_FW_IP_PROTOCOL_UDP, 1), FW_OK);
  BOOL tcp = FALSE, udp = TRUE;
  EXPECT_EQ(firewall.QueryPortEnabled(80, NET_FW_IP_PROTOCOL_TCP, &tcp), FW_OK);
  EXPECT_EQ(firewall.QueryPortEnabled(80, NET_FW_IP_PROTOCOL_UDP, &udp), FW_OK);
  EXPECT_EQ(tcp, TRUE);
  EXPECT_EQ(udp, FALSE);
  EXPECT_EQ(firewall.RemovePort(80, NET_FW_IP_PROTOCOL_TCP), FW_OK);
  EXPECT_EQ(fake.ports, (std::vector<Port>{{80, 17, u"quic", VARIANT_FALSE}}));
  ExpectNothingLeaked();
}

TEST_F(PortsTest, AddKeepsAnEnabledPortAndReplacesADisabledOne) {
  fake.ports = {{443, 6, u"https", VARIANT_TRUE}};
  EXPECT_EQ(firewall.AddPort(443, 6, u"renamed"), FW_OK);
  EXPECT_EQ(fake.ports[0].name, u"https");
  EXPECT_EQ(fake.Calls("CoCreateInstance(NetFwOpenPort)"), 0);
  fake.ports[0].enabled = VARIANT_FALSE;
  EXPECT_EQ(firewall.AddPort(443, 6, u"renamed"), FW_OK);
  EXPECT_EQ(fake.ports, (std::vector<Port>{{443, 6, u"renamed", VARIANT_TRUE}}));
}

TEST_F(PortsTest, RemoveAndToggleLeaveWhatTheyShouldAlone) {
  fake.ports = {{22, 6, u"ssh", VARIANT_FALSE}};
  EXPECT_EQ(firewall.RemovePort(22, 6), FW_OK);
  EXPECT_EQ(firewall.RemovePort(23, 6), FW_OK);
  EXPECT_EQ(fake.ports.size(), 1u);
  EXPECT_EQ(fake.Calls("INetFwOpenPorts::Remove"), 0);
  EXPECT_EQ(firewall.TogglePortEnabled(23, 6, 0), FW_OK);
  EXPECT_EQ(fake.Calls("INetFwOpenPort::put_Enabled"), 0);
  for (int shown : {0, -1, 7}) {
    fake.ports[0].enabled = VARIANT_FALSE;
    EXPECT_EQ(firewall.TogglePortEnabled(22, 6, shown), FW_OK);
    EXPECT_EQ(fake.ports[0].enabled, VARIANT_TRUE) << shown;
  }
  EXPECT_EQ(firewall.TogglePortEnabled(22, 6, 1), FW_OK);
  EXPECT_EQ(fake.ports[0].enabled, VARIANT_FALSE);
  EXPECT_EQ(fake.Calls("INetFwOpenPort::get_Enabled"), 1);  // only the remove of a present port asks
  ExpectNothingLeaked();
}

TEST_F(PortsTest, WithoutAProfileNothingIsTouched) {
  firewall.ReleaseFirewallProfile();
  BOOL enabled = TRUE;
  EXPECT_EQ(firewall.QueryPortEnabled(80, 6, &enabled), FW_E_PROFILE_STATE);
  EXPECT_EQ(enabled, FALSE);
  EXPECT_EQ(firewall.AddPort(80, 6, u"web"), FW_E_PROFILE_STATE);
  EXPECT_EQ(firewall.RemovePort(80, 6), FW_E_PROFILE_STATE);
  EXPECT_EQ(firewall.TogglePortEnabled(80, 6, 1), FW_E_PROFILE_STATE);
  fake.ports = {{80, 6, u"web", VARIANT_TRUE}};
  firewall.ListOpenPorts();
  EXPECT_TRUE(firewall.portRows.empty());
  EXPECT_EQ(fake.Calls("INetFwProfile::get_GloballyOpenPorts"), 0);
}

TEST_F(PortsTest, ListedRowsCarryTheDocumentedTexts) {
  fake.ports = {{443, 6, u"https", VARIANT_TRUE},
                {53, 17, u"dns", VARIANT_FALSE},
                {7, 99, u"odd", 1},
                {1, 6, u"unnamed", VARIANT_TRUE},
                {-5, 6, u"negative", VARIANT_TRUE}};
  fake.Fail("INetFwOpenPort::get_Name", 1, 3);  // the fourth port is not listed
  firewall.ListOpenPorts();
  EXPECT_EQ(firewall.portRows, (std::vector<PortRow>{{"https", "TCP", "443 ", 1},
                                                     {"dns", "UDP", "53 ", 0},
                                                     {"odd", "UDP", "7 ", 0},
                                                     {"negative", "TCP", "-5 ", 1}}));
  ExpectNothingLeaked();
}

TEST_F(PortsTest, ListingStopsQuietlyWhereTheCollectionCannotBeWalked) {
  fake.ports = {{80, 6, u"web", VARIANT_TRUE}};
  fake.Fail("INetFwProfile::get_GloballyOpenPorts", 1);
  firewall.ListOpenPorts();
  fake.Fail("INetFwOpenPorts::get__NewEnum", 1);
  firewall.ListOpenPorts();
  EXPECT_TRUE(firewall.portRows.empty());
  firewall.sinksAttached = false;
  firewall.ListOpenPorts();
  EXPECT_EQ(fake.Calls("INetFwOpenPorts::get__NewEnum"), 1);
  ExpectNothingLeaked();
}

}  // namespace
