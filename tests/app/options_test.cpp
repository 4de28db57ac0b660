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

TEST(Options, UsageNamesTheBackendInUse) {
  const std::string usage = UsageText("store (chosen with --firewall)");
  EXPECT_NE(usage.find("--firewall=BACKEND"), std::string::npos);
  EXPECT_NE(usage.find("Firewall backend for this run: store (chosen with --firewall)"), std::string::npos);
}

}  // namespace
