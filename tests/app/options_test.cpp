#include <gtest/gtest.h>

#include "app/options.h"

namespace {

std::optional<Options> Parse(std::vector<const char*> args, std::string* error = nullptr) {
  std::string ignored;
  args.insert(args.begin(), "brenvo");
  return ParseOptions(int(args.size()), args.data(), error ? error : &ignored);
}

TEST(Options, TakeValuesInBothFormsAndLeaveTheToolkitsOwn) {
  const auto options = Parse({"-platform", "offscreen", "--db", "/tmp/a b.db", "--firewall=nftables",
                              "--capture-file=/tmp/x.pcapng", "--apply"});
  ASSERT_TRUE(options);
  EXPECT_EQ(options->database, "/tmp/a b.db");
  EXPECT_EQ(options->firewall, "nftables");
  EXPECT_EQ(options->captureFile, "/tmp/x.pcapng");
  EXPECT_TRUE(options->apply);
  EXPECT_FALSE(options->help);
  EXPECT_FALSE(options->version);
}

TEST(Options, RefuseWhatTheyDoNotUnderstand) {
  std::string error;
  EXPECT_FALSE(Parse({"--verbose"}, &error));
  EXPECT_EQ(error, "unknown option --verbose");
  EXPECT_FALSE(Parse({"--db"}, &error));
  EXPECT_EQ(error, "--db needs a value");
  EXPECT_FALSE(Parse({"--db="}, &error));
  EXPECT_FALSE(Parse({"--firewall=iptables"}, &error));
  EXPECT_EQ(error, "--firewall takes service, nftables or store, not iptables");
  EXPECT_FALSE(Parse({"--dbx=1"}, &error));
}

TEST(Options, TakeTheMonitorsBoundsAsPositiveWholeNumbers) {
  auto options = Parse({"--max-sessions", "5", "--max-segments=1073741824"});
  ASSERT_TRUE(options);
  EXPECT_EQ(options->maxSessions, 5u);
  EXPECT_EQ(options->maxSegments, 1073741824u);
  options = Parse({});
  EXPECT_EQ(options->maxSessions, 1000000u);
  EXPECT_EQ(options->maxSegments, 4000000u);

  std::string error;
  for (const char* bad : {"0", "-1", "+5", "5x", " 5", "1e6", "99999999999999999999999", "1073741825"}) {
    EXPECT_FALSE(Parse({"--max-sessions", bad}, &error)) << bad;
    EXPECT_EQ(error, std::string("--max-sessions takes a whole number from 1 to 1073741824, not ") + bad);
  }
  EXPECT_FALSE(Parse({"--max-segments=2147483648"}, &error));
  EXPECT_EQ(error, "--max-segments takes a whole number from 1 to 2147483647, not 2147483648");
  EXPECT_FALSE(Parse({"--max-segments"}, &error));
  EXPECT_EQ(error, "--max-segments needs a value");
}

TEST(Options, UsageNamesTheBackendInUse) {
  const std::string usage = UsageText("store (chosen with --firewall)");
  EXPECT_NE(usage.find("--firewall=BACKEND"), std::string::npos);
  EXPECT_NE(usage.find("Firewall backend for this run: store (chosen with --firewall)"), std::string::npos);
}

}  // namespace
