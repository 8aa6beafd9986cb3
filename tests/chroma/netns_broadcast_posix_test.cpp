// The broadcast sender on a real subnet: two network namespaces made for the
// test and joined by a veth pair. The sender runs in one, with that
// namespace's own adapters (`ip netns exec` gives it the namespace's sysfs);
// a receiver bound to the subnet's broadcast address in the other gets every
// payload. Nothing here touches the machine's own namespace.
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/host_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/udp_receiver.h"

namespace halvix::test {
namespace {

// Namespaces A and B, veth A <-> B, 10.213.0.1/24 in A and 10.213.0.2/24 in
// B. Names carry the process id, so parallel runs never meet; both
// namespaces (and with them the veth pair) go when the object goes.
class NamespacePair {
 public:
  NamespacePair()
      : a_("hxchroma" + std::to_string(::getpid()) + "a"),
        b_("hxchroma" + std::to_string(::getpid()) + "b"),
        linkA_("hxc" + std::to_string(::getpid()) + "a"),
        linkB_("hxc" + std::to_string(::getpid()) + "b") {}
  ~NamespacePair() {
    for (const std::string& name : created_) runToEnd({"ip", "netns", "delete", name});
  }
  NamespacePair(const NamespacePair&) = delete;
  NamespacePair& operator=(const NamespacePair&) = delete;

  // Empty when made, else why not.
  std::string make() {
    if (::geteuid() != 0) return "network namespaces need root";
    if (runToEnd({"ip", "-V"}) != 0) return "the `ip` command (iproute2) is not available";
    for (const std::string& name : {a_, b_}) {
      if (runToEnd({"ip", "netns", "add", name}) != 0) return "`ip netns add` failed: no namespaces here";
      created_.push_back(name);
    }
    const std::vector<std::vector<std::string>> steps = {
        {"ip", "-n", a_, "link", "add", linkA_, "type", "veth", "peer", "name", linkB_, "netns", b_},
        {"ip", "-n", a_, "address", "add", "10.213.0.1/24", "broadcast", "+", "dev", linkA_},
        {"ip", "-n", b_, "address", "add", "10.213.0.2/24", "broadcast", "+", "dev", linkB_},
        {"ip", "-n", a_, "link", "set", linkA_, "up"},
        {"ip", "-n", b_, "link", "set", linkB_, "up"},
    };
    for (const auto& step : steps) {
      if (runToEnd(step) != 0) return "setting up the veth pair failed at `ip " + step[3] + " " + step[4] + "`";
    }
    return {};
  }

  const std::string& a() const { return a_; }
  const std::string& b() const { return b_; }

 private:
  std::string a_, b_, linkA_, linkB_;
  std::vector<std::string> created_;
};

// A receiver made inside namespace `name`: the socket stays there whichever
// thread uses it, so the thread that entered the namespace can end.
std::optional<UdpReceiver> receiverIn(const std::string& name, in_addr_t address) {
  std::optional<UdpReceiver> receiver;
  std::thread([&] {
    const int ns = ::open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    if (ns < 0) return;
    if (::setns(ns, CLONE_NEWNET) == 0) receiver.emplace(address);
    ::close(ns);
  }).join();
  return receiver;
}

TEST(BroadcastOnASubnet, EveryPayloadReachesTheDirectedBroadcastAddress) {
  NamespacePair namespaces;
  if (const std::string why = namespaces.make(); !why.empty()) GTEST_SKIP() << why;

  std::optional<UdpReceiver> receiver = receiverIn(namespaces.b(), ::inet_addr("10.213.0.255"));
  ASSERT_TRUE(receiver && receiver->ok());

  const std::vector<std::string> payloads = {"colour", "", std::string(1200, 'p'), "last"};
  TempDir dir;
  const std::string out = (dir.path() / "out.txt").string();
  const std::string err = (dir.path() / "err.txt").string();
  std::vector<std::string> probe = {"ip", "netns", "exec", namespaces.a(),
                                    std::string(HALVIX_BIN_DIR) + "/chroma_broadcast_probe", "10.213.0.2",
                                    std::to_string(receiver->port())};
  probe.insert(probe.end(), payloads.begin(), payloads.end());
  ASSERT_EQ(0, runToEnd(probe, out.c_str(), err.c_str())) << readWholeFile(err);
  EXPECT_EQ("10.213.0.255:" + std::to_string(receiver->port()) + "\n", readWholeFile(out));
  EXPECT_EQ("", readWholeFile(err)) << "no send failed";

  for (const std::string& payload : payloads) {
    SCOPED_TRACE(payload.substr(0, 10));
    std::string bytes;
    sockaddr_in from{};
    const platform::SocketOutcome got = receiver->receive(bytes, from);
    EXPECT_EQ(payload, bytes);
    if (payload.empty()) {
      EXPECT_EQ(platform::SocketStatus::Closed, got.status) << "an empty datagram";
    } else {
      ASSERT_EQ(platform::SocketStatus::Done, got.status);
      EXPECT_EQ(::inet_addr("10.213.0.1"), from.sin_addr.s_addr) << "sent from namespace A's address";
    }
  }
}

}  // namespace
}  // namespace halvix::test
