// The whole road on loopback: the demo bundle in a real activation
// (corvel-lua) sends colours to a running lampsim, whose --json shows them.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <msgpack.hpp>
#include <nlohmann/json.hpp>

#include "modules/zstr/crc.h"
#include "tests/support/host_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/udp_receiver.h"

namespace halvix::test {
namespace {

const std::string kLampsim = std::string(HALVIX_BIN_DIR) + "/lampsim";
const std::string kCorvelLua = std::string(HALVIX_BIN_DIR) + "/corvel-lua";

std::string packedColour(const std::string& lamp, int r, int g, int b,
                         const std::string& method = "setColorWithoutResponse") {
  msgpack::sbuffer buffer;
  msgpack::packer<msgpack::sbuffer> packer(buffer);
  packer.pack_array(4);
  packer.pack(std::string("api.razerkit.razer_halvix_control"));
  packer.pack(method);
  packer.pack(lamp);
  packer.pack(std::map<std::string, int>{{"b", b}, {"g", g}, {"r", r}});
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (std::size_t i = 0; i < buffer.size(); ++i) {
    auto c = static_cast<unsigned char>(buffer.data()[i]);
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  return hex;
}

std::vector<nlohmann::json> jsonLines(const std::string& text) {
  std::vector<nlohmann::json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
  return lines;
}

// The string the application answered to its last call ("answer: <hex>" of [true, string]).
std::string lastAnsweredString(const std::string& out) {
  const std::string marker = "answer: ";
  const std::size_t at = out.rfind(marker);
  if (at == std::string::npos) return {};
  const std::string hex = out.substr(at + marker.size(), out.find('\n', at) - at - marker.size());
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  auto answer = msgpack::unpack(bytes.data(), bytes.size());
  auto list = answer.get().as<std::vector<msgpack::object>>();
  return list.size() == 2 ? list[1].as<std::string>() : std::string();
}

// A well-formed frame for `lamp`, colour 010203, sequence 0, sent at time 0.
std::string lampFrame(const std::string& lamp) {
  std::string frame = "LF\x01" + std::string(1, static_cast<char>(lamp.size())) + lamp + "\x01\x02\x03";
  frame.append(12, '\0');
  const auto crc = modules::zstr::crc16(0xFFFF, reinterpret_cast<const unsigned char*>(frame.data()), frame.size());
  frame += static_cast<char>(crc >> 8);
  frame += static_cast<char>(crc & 0xFF);
  return frame;
}

bool waitFor(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(20)) {
  for (auto end = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < end;) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}

TEST(LampsimEndToEndTest, ColoursFromTheDemoBundleReachLampsim) {
  TempDir dir;
  std::string shared, own, broadcast;
  {
    // Ports nobody uses on 127.0.0.1 at the moment of asking.
    UdpReceiver first, second, third;
    shared = std::to_string(first.port());
    own = std::to_string(second.port());
    broadcast = std::to_string(third.port());
  }
  const auto lamps = dir.write("lamps.conf", "desk 127.0.0.1 " + shared + "\nshelf 127.0.0.1 " + shared +
                                                 "\nwindow 127.0.0.1 " + own + "\nbroadcast hall 10.9.9.255 " +
                                                 broadcast + "\n");
  std::filesystem::create_directories(dir.path() / "sim");
  std::filesystem::create_directories(dir.path() / "app");

#ifdef _WIN32
  // A console program there has no window to be asked to close: it ends
  // by its time limit instead, long enough for the run below under Wine.
  const std::vector<std::string> limit = {"--seconds", "10"};
  const int stop = 0;
#else
  const std::vector<std::string> limit;
  const int stop = SIGTERM;
#endif
  std::vector<std::string> simArgs = {"--config", lamps.string(), "--json"};
  simArgs.insert(simArgs.end(), limit.begin(), limit.end());
  HostProcess lampsim(kLampsim, simArgs, dir.path() / "sim");
  ASSERT_TRUE(lampsim.started());
  ASSERT_TRUE(waitFor([&] { return readWholeFile(dir.path() / "sim/err.txt").find("listening") != std::string::npos; }))
      << readWholeFile(dir.path() / "sim/err.txt");

  auto app = runToEnd(kCorvelLua,
                      {"--bundle", HALVIX_DEMO_BUNDLE, "--seconds", "0.2", "--call", packedColour("desk", 255, 128, 0),
                       "--call", packedColour("shelf", 0, 0, 255), "--call", packedColour("window", 1, 2, 3), "--call",
                       packedColour("desk", 4, 5, 6), "--call", packedColour("attic", 7, 8, 9), "--call",
                       packedColour("hall", 10, 11, 12, "setColorWithoutResponsePackedData")},
                      dir.path() / "app", {"HALVIX_DEMO_LAMPS=" + lamps.string()});
  ASSERT_EQ(app.exitCode, 0) << app.out << app.err;
  EXPECT_NE(app.out.find("lampdemo: 3 lamp(s), broadcast lamp hall from " + lamps.string()), std::string::npos)
      << app.out;

  // The packed data for the broadcast lamp, sent as the host sends it, but to
  // loopback: lampsim's broadcast socket listens on every address.
  const std::string packed = lastAnsweredString(app.out);
  const std::string head = "10.9.9.255\t" + broadcast + "\t";
  ASSERT_EQ(packed.substr(0, head.size()), head);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(static_cast<std::uint16_t>(std::stoi(broadcast)));
  platform::DatagramSocket sender;
  ASSERT_TRUE(sender.sendTo(packed.data() + head.size(), packed.size() - head.size(), to).done());

  ASSERT_TRUE(waitFor([&] {
    const std::string out = readWholeFile(dir.path() / "sim/out.txt");
    return std::count(out.begin(), out.end(), '\n') >= 5;
  }));
  ProcessOutcome sim = lampsim.finish(stop);
  ASSERT_EQ(sim.exitCode, 0) << sim.err;

  auto lines = jsonLines(sim.out);
  ASSERT_EQ(lines.size(), 6u) << sim.out;
  struct Expected {
    const char* lamp;
    int r, g, b, seq;
  };
  const Expected frames[] = {{"desk", 255, 128, 0, 0}, {"shelf", 0, 0, 255, 0}, {"window", 1, 2, 3, 0},
                             {"desk", 4, 5, 6, 1},     {"hall", 10, 11, 12, 0}};
  // The shared socket and window's own are read in turn, so only each
  // lamp's own frames keep their order.
  for (const auto& e : frames) {
    SCOPED_TRACE(e.lamp + std::to_string(e.seq));
    auto it = std::find_if(lines.begin(), lines.end() - 1, [&](const nlohmann::json& j) {
      return j.value("lamp", "") == e.lamp && j.value("seq", -1) == e.seq;
    });
    ASSERT_NE(it, lines.end() - 1);
    EXPECT_EQ((*it)["ok"], true);
    EXPECT_EQ((*it)["r"], e.r);
    EXPECT_EQ((*it)["g"], e.g);
    EXPECT_EQ((*it)["b"], e.b);
    EXPECT_EQ((*it)["latency_from"], "sent");
    EXPECT_GE((*it)["latency_ns"].get<std::int64_t>(), 0);
  }
  const auto& summary = lines.back()["summary"];
  EXPECT_EQ(summary["bad_frames"], 0);
  EXPECT_EQ(summary["lamps"][0]["lamp"], "desk");
  EXPECT_EQ(summary["lamps"][0]["frames"], 2);
  EXPECT_EQ(summary["lamps"][0]["gaps"], 0);
  EXPECT_EQ(summary["lamps"][3]["lamp"], "hall");
  EXPECT_EQ(summary["lamps"][3]["frames"], 1);
  EXPECT_EQ(summary["latency"]["samples"], 5);
}

TEST(LampsimEndToEndTest, JsonLinesEscapeLampBytesThatAreNotUtf8AndShowWledPackets) {
  TempDir dir;
  std::uint16_t port = 0, wledPort = 0;
  {
    UdpReceiver probe, wledProbe;  // ports nobody uses on 127.0.0.1 at the moment of asking
    port = probe.port();
    wledPort = wledProbe.port();
  }
  const auto lamps = dir.write("lamps.conf", "d\xe9sk 127.0.0.1 " + std::to_string(port) + "\nstrip 127.0.0.1 " +
                                                 std::to_string(wledPort) + " wled 2\n");
  // Ends by its time limit, long enough for the datagrams below under Wine.
  HostProcess lampsim(kLampsim, {"--config", lamps.string(), "--json", "--seconds", "3"}, dir.path());
  ASSERT_TRUE(lampsim.started());
  ASSERT_TRUE(waitFor([&] { return readWholeFile(dir.path() / "err.txt").find("listening") != std::string::npos; }));

  struct Case {
    std::string lamp;     // the frame's identifier
    std::string written;  // as its JSON line shows it
  };
  const Case cases[] = {
      {"d\xe9sk", R"("lamp":"d\udce9sk","latency_from":"sent")"},                 // listed: taken
      {"\xed\xa0\x80" "a", R"("lamp":"\udced\udca0\udc80a","ok":false)"},  // an unknown lamp
      {"\xe2\x82\xac", "\"lamp\":\"\xe2\x82\xac\",\"ok\":false"},                 // well-formed: as it is
  };
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(port);
  platform::DatagramSocket sender;
  // The WLED packet's line first: the two sockets are read in turn.
  sockaddr_in toStrip = to;
  toStrip.sin_port = htons(wledPort);
  const std::string drgb("\x02\x02\x01\x02\x03\x04\x05\x06", 8);
  ASSERT_TRUE(sender.sendTo(drgb.data(), drgb.size(), toStrip).done());
  ASSERT_TRUE(waitFor([&] { return readWholeFile(dir.path() / "out.txt").find('\n') != std::string::npos; }));
  for (const auto& c : cases) {
    const std::string frame = lampFrame(c.lamp);
    ASSERT_TRUE(sender.sendTo(frame.data(), frame.size(), to).done());
  }
  ProcessOutcome sim = lampsim.finish(0);
  ASSERT_EQ(sim.exitCode, 0) << sim.err;

  std::vector<std::string> lines;
  std::istringstream out(textLines(sim.out));
  for (std::string line; std::getline(out, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 5u) << sim.out;
  const auto packet = nlohmann::json::parse(lines[0]);
  EXPECT_EQ(packet["protocol"], "wled");
  EXPECT_EQ(packet["lamp"], "strip");
  EXPECT_EQ(packet["packet"], "DRGB");
  EXPECT_EQ(packet["leds"], 2);
  EXPECT_EQ(packet["r"], 1);
  EXPECT_EQ(packet["b"], 3);
  EXPECT_EQ(packet["latency_from"], "none");
  for (std::size_t i = 0; i < std::size(cases); ++i)
    EXPECT_NE(lines[i + 1].find(cases[i].written), std::string::npos) << lines[i + 1];
  EXPECT_NE(lines[4].find(R"("lamp":"d\udce9sk","latency":)"), std::string::npos) << lines[4];
  // The summary holds the escaped identifier, which a JSON reader refuses.
  EXPECT_NE(lines[4].find(R"("incomplete_rounds":0,"lamp":"strip")"), std::string::npos) << lines[4];
  EXPECT_NE(lines[4].find(R"("leds":2,"protocol":"wled","reordered":0,"restarts":0,"rounds":1})"), std::string::npos);
}

TEST(LampsimEndToEndTest, ABadLampListOrArgumentEndsLampsimWithAReason) {
  TempDir dir;
  const auto bad = dir.write("bad.conf", "desk 127.0.0.1\n");
  struct Case {
    std::vector<std::string> arguments;
    std::string message;
  };
  const Case cases[] = {
      {{"--config", bad.string()}, "lampsim: " + bad.string() + ":1: expected \"identifier address port ["},
      {{"--config", (dir.path() / "none.conf").string()}, "lampsim: cannot read"},
      {{"--json"}, "lampsim: --config is required"},
      {{"--config", bad.string(), "--seconds", "soon"}, "lampsim: bad --seconds value soon"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    auto outcome = runToEnd(kLampsim, c.arguments, dir.path());
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_NE(outcome.err.find(c.message), std::string::npos) << outcome.err;
    EXPECT_EQ(outcome.out, "");
  }
}

}  // namespace
}  // namespace halvix::test
