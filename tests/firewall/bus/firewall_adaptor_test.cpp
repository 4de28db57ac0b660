// The service's object on a private bus: a change waits for the authorizer without holding
// up anyone else, a refusal reaches the caller with its reason, and reads need no one's leave.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <sdbus-c++/sdbus-c++.h>

#include <atomic>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "firewall/bus/bus_protocol.h"
#include "firewall/bus/firewall_adaptor.h"
#include "firewall/bus/firewall_bus_client.h"
#include "firewall/local_firewall.h"
#include "tests/support/private_bus.h"
#include "tests/support/status_kind.h"
#include "tests/support/temp_dir.h"

namespace {

// Keeps every question until the test answers it.
class HoldingAuthorizer final : public Authorizer {
 public:
  void Check(const std::string&, const std::string& action, Interaction, Done done) override {
    if (allowAll) return done(Status(), 0);
    asked.push_back(action);
    m_waiting.push_back(std::move(done));
  }
  void Answer(const Status& allowed) {
    for (Done& done : std::exchange(m_waiting, {})) done(allowed, 0);
  }
  std::size_t Waiting() const { return m_waiting.size(); }

  std::vector<std::string> asked;
  bool allowAll = false;  // answer yes at once, asking nothing

 private:
  std::vector<Done> m_waiting;
};

// The service's side on a thread of its own, serving the bus as brenvod does; work for that
// thread is handed to it through Run.
class Server {
 public:
  explicit Server(std::shared_ptr<FirewallConfiguration> firewall) : m_thread([this, firewall] { Serve(firewall); }) {
    m_ready.get_future().wait();
  }
  ~Server() {
    m_stop = true;
    Wake();
    m_thread.join();
  }

  template <class Work>
  auto Run(Work work) {
    std::packaged_task<decltype(work())()> task(std::move(work));
    auto result = task.get_future();
    {
      std::lock_guard lock(m_mutex);
      m_work.emplace_back([&task] { task(); });
    }
    Wake();
    return result.get();
  }

  HoldingAuthorizer authorizer;

 private:
  void Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(m_wake, &one, sizeof one);
  }
  void Serve(const std::shared_ptr<FirewallConfiguration>& firewall) {
    const auto bus = sdbus::createSystemBusConnection();
    FirewallAdaptor adaptor(*bus, firewall, authorizer, "store");
    bus->requestName(bus::kServiceName);
    m_ready.set_value();
    while (!m_stop) {
      while (bus->processPendingRequest()) {
      }
      const auto data = bus->getEventLoopPollData();
      pollfd waiting[2] = {{data.fd, data.events, 0}, {m_wake, POLLIN, 0}};
      poll(waiting, 2, data.getPollTimeout());
      if (waiting[1].revents & POLLIN) {
        std::uint64_t count;
        [[maybe_unused]] const ssize_t read = ::read(m_wake, &count, sizeof count);
        std::vector<std::function<void()>> work;
        {
          std::lock_guard lock(m_mutex);
          work.swap(m_work);
        }
        for (auto& item : work) item();
      }
    }
  }

  int m_wake = eventfd(0, EFD_CLOEXEC);
  std::atomic<bool> m_stop{false};
  std::mutex m_mutex;
  std::vector<std::function<void()>> m_work;
  std::promise<void> m_ready;
  std::thread m_thread;
};

class FirewallAdaptorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!m_bus.Failure().empty()) GTEST_SKIP() << m_bus.Failure();
    std::unique_ptr<FirewallStore> store;
    ASSERT_TRUE(FirewallStore::Open(m_dir.File("firewall.db"), &store).ok());
    m_server = std::make_unique<Server>(
        std::make_shared<LocalFirewall>(std::move(store), std::make_shared<StoreOnlyEnforcer>()));
    ASSERT_TRUE(FirewallBusClient::Connect(&m_client).ok());
  }

  std::size_t Waiting() {
    return m_server->Run([this] { return m_server->authorizer.Waiting(); });
  }

  TempDir m_dir;
  PrivateBus m_bus{m_dir.File("")};
  std::unique_ptr<Server> m_server;
  std::shared_ptr<FirewallBusClient> m_client;
};

TEST_F(FirewallAdaptorTest, AChangeWaitingForItsAuthorizationHoldsUpNoOne) {
  auto change = std::async(std::launch::async, [] {
    std::shared_ptr<FirewallBusClient> waiting;
    EXPECT_TRUE(FirewallBusClient::Connect(&waiting).ok());
    return waiting->Add(PortRecord{{8080, 6}, u"web", true});
  });
  while (Waiting() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));

  // Meanwhile another client is served, and sees nothing of the change yet.
  std::vector<PortRecord> ports;
  EXPECT_TRUE(m_client->List(&ports).ok());
  EXPECT_TRUE(ports.empty());
  const Result<bool> on = m_client->ReadFirewallEnabled();
  ASSERT_TRUE(on.ok());
  EXPECT_FALSE(*on);
  EXPECT_EQ(change.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);

  m_server->Run([this] { m_server->authorizer.Answer(Status()); });
  EXPECT_TRUE(change.get().ok());
  EXPECT_TRUE(m_client->List(&ports).ok());
  ASSERT_EQ(ports.size(), 1u);
  EXPECT_EQ(ports[0].name, u"web");
  EXPECT_EQ(m_server->Run([this] { return m_server->authorizer.asked; }),
            std::vector<std::string>{"org.brenvo.firewall.manage"});
}

TEST_F(FirewallAdaptorTest, ARefusalReachesTheCallerWithItsReasonAndChangesNothing) {
  auto change = std::async(std::launch::async, [this] { return m_client->WriteFirewallEnabled(true); });
  while (Waiting() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  m_server->Run([this] { m_server->authorizer.Answer(AccessDenied("uid 1000 may not")); });
  const Status refused = change.get();
  EXPECT_EQ(KindOf(refused), FailureKind::kAccessDenied);
  EXPECT_EQ(refused.reason(), "uid 1000 may not");
  const Result<bool> on = m_client->ReadFirewallEnabled();
  ASSERT_TRUE(on.ok());
  EXPECT_FALSE(*on);
}

TEST_F(FirewallAdaptorTest, InputOutOfBoundsIsRefusedBeforeAnyoneIsAsked) {
  const Status tooLong = m_client->Add(PortRecord{{8080, 6}, std::u16string(4097, u'x'), true});
  EXPECT_EQ(KindOf(tooLong), FailureKind::kInvalidArgument);
  EXPECT_NE(tooLong.reason().find("longer than 4096 characters"), std::string::npos);
  EXPECT_EQ(KindOf(m_client->Add(AppRecord{u"/" + std::u16string(4096, u'p'), u"p", true})),
            FailureKind::kInvalidArgument);
  EXPECT_EQ(KindOf(m_client->Add(AppRecord{u"bin/relative", u"p", true})), FailureKind::kInvalidArgument);
  EXPECT_EQ(KindOf(m_client->Update(PortKey{80, 33}, EntryChange{u"x", {}})), FailureKind::kInvalidArgument);
  EXPECT_EQ(KindOf(m_client->Add(PortRecord{{8080, 6}, u"", true})), FailureKind::kInvalidArgument);
  EXPECT_EQ(KindOf(m_client->Add(PortRecord{{8080, 6}, std::u16string{u'a', u'\xD800'}, true})),
            FailureKind::kInvalidArgument);
  // A lookup that finds nothing is no failure, even of a key that could never be stored.
  std::optional<PortRecord> port;
  std::optional<AppRecord> app;
  EXPECT_TRUE(m_client->Find(PortKey{8080, 6}, &port).ok());
  EXPECT_FALSE(port);
  EXPECT_TRUE(m_client->Find(PortKey{0, 7}, &port).ok());
  EXPECT_TRUE(m_client->Find(AppKey(u"bin/relative"), &app).ok());
  EXPECT_FALSE(port || app);
  EXPECT_EQ(Waiting(), 0u);
  EXPECT_TRUE(m_server->Run([this] { return m_server->authorizer.asked; }).empty());
}

// The bus drops a connection that sends a message past its limit: a list that would outgrow
// one reply is refused while it is made, and whatever was stored is still listed.
TEST_F(FirewallAdaptorTest, NoListOutgrowsOneReply) {
  m_server->Run([this] { m_server->authorizer.allowAll = true; });
  std::u16string longest;
  for (int i = 0; i < 4096; ++i) longest += u"\U0001F525";
  LONG port = 1;
  Status added;
  for (; port < 2000 && added.ok(); ++port) added = m_client->Add(PortRecord{{port, 6}, longest, true});
  EXPECT_EQ(KindOf(added), FailureKind::kInvalidArgument);
  EXPECT_NE(added.reason().find("longer than the bus carries in one reply"), std::string::npos);
  EXPECT_GT(port, 500);
  std::vector<PortRecord> ports;
  ASSERT_TRUE(m_client->List(&ports).ok());
  EXPECT_EQ(ports.size(), static_cast<std::size_t>(port - 2));
  // Renaming an entry to a longer name needs room too; shorter names make room.
  EXPECT_TRUE(m_client->Add(AppRecord{u"/usr/bin/a", u"a", true}).ok());
  EXPECT_TRUE(m_client->Update(PortKey{1, 6}, EntryChange{u"short", {}}).ok());
  EXPECT_TRUE(m_client->Add(PortRecord{{port - 1, 6}, longest, true}).ok());
  EXPECT_TRUE(m_client->ReadFirewallEnabled().ok());
}

}  // namespace
