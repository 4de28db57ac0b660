// brenvo --help, run as main() runs it, in a network namespace of the test's own.
#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "app/brenvo_main.h"
#include "tests/integration/support/netns.h"

namespace {

TEST(ProgramHelp, DescribesTheAutomaticBackendWithoutTouchingTheKernel) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for a network namespace of its own";
  int output[2];
  ASSERT_EQ(pipe(output), 0);
  const pid_t child = fork();
  if (child == 0) {
    // As root, the automatic choice is nftables; finding that out must change nothing.
    if (unshare(CLONE_NEWNET) != 0) _exit(3);
    unsetenv("BRENVO_FIREWALL");
    dup2(output[1], STDOUT_FILENO);
    const auto before = RulesetGeneration();
    char program[] = "brenvo", help[] = "--help";
    char* argv[] = {program, help, nullptr};
    const int status = BrenvoMain(2, argv);
    std::fflush(stdout);
    const auto after = RulesetGeneration();
    _exit(status != 0 ? 2 : !before ? 3 : before == after ? 0 : 1);
  }
  close(output[1]);
  std::string usage;
  char chunk[4096];
  for (ssize_t n; (n = read(output[0], chunk, sizeof chunk)) > 0;) usage.append(chunk, std::size_t(n));
  close(output[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the kernel's ruleset changed, 2: --help failed, 3: no namespace";
  EXPECT_NE(usage.find("Firewall backend for this run: nftables (automatic: this process may change the kernel "
                       "firewall)"),
            std::string::npos)
      << usage;
}

}  // namespace
