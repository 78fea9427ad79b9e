// SPDX-License-Identifier: GPL-3.0-or-later
// The update check against an HTTP server the test runs on 127.0.0.1, and the
// programmer's firmware byte from the simulated programmer.
#include "net/update_check.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>

#include "device/clock.h"
#include "device/recording_host.h"
#include "net/http_test_server.h"
#include "sim/sim_backend.h"
#include "sim/sim_bus.h"

namespace tarvix {
namespace {

using namespace std::chrono_literals;
using testing::HttpTestServer;

constexpr char kPath[] = "/updata/VRNT_Tarvix_CV_Info.pdf";

UpdateCheckConfig ConfigFor(const HttpTestServer& server, std::chrono::milliseconds timeout = 10s) {
  UpdateCheckConfig c = UpdateCheckConfig::Default();
  c.url = server.Url(kPath);
  c.timeout = timeout;
  return c;
}

// A firmware source that answers `byte` and counts its calls.
struct FakeProgrammer {
  std::optional<std::uint8_t> byte;
  bool busy = false;
  std::atomic<int> calls{0};
  FirmwareByteSource Source() {
    return [this](ExchangeControl&) {
      ++calls;
      return FirmwareByteReply{byte, busy};
    };
  }
};

UpdateCheckResult Check(const UpdateCheckConfig& config, const FirmwareByteSource& source) {
  ExchangeControl control(config.timeout);
  return RunUpdateCheck(config, source, control);
}

TEST(UpdateCheck, DocumentServedReadsTwoBytesAndAsksTheProgrammer) {
  HttpTestServer server(200, std::string("\x40\x21", 2) + std::string(5000, '\x77'));
  FakeProgrammer programmer{0x10};
  const UpdateCheckResult r = Check(ConfigFor(server), programmer.Source());
  ASSERT_TRUE(r.ok);
  EXPECT_TRUE(r.boxes.empty());
  EXPECT_EQ(r.http_status, 200u);
  EXPECT_EQ(programmer.calls, 1);
  EXPECT_EQ(r.lines.new_software, "new software version: V4.0  \r\n");
  EXPECT_EQ(r.lines.new_firmware, "new firmware version: V2.1     \r\n");
  EXPECT_EQ(r.lines.current_firmware, "current firmware version: V2.0   ");
  EXPECT_EQ(r.lines.verdict, "current software is latest,new firmware available");
  EXPECT_EQ(r.link_url, UpdateCheckConfig::Default().link_url);
  // One GET of the document's path, with the program's name as the agent.
  const std::string request = server.LastRequest();
  EXPECT_EQ(request.rfind(std::string("GET ") + kPath + " HTTP/1.1\r\n", 0), 0u) << request;
  EXPECT_NE(request.find("\r\nUser-Agent: VRNT_Tarvix\r\n"), std::string::npos) << request;
}

TEST(UpdateCheck, NewSoftwareAndAnAbsentProgrammer) {
  HttpTestServer server(200, "\x41\x30");
  FakeProgrammer programmer{std::nullopt};
  const UpdateCheckResult r = Check(ConfigFor(server), programmer.Source());
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.lines.current_firmware, "current firmware version access failed");
  EXPECT_EQ(r.lines.verdict, "new software is available");
  // No source at all (no programmer support) reads the same.
  const UpdateCheckResult none = Check(ConfigFor(server), {});
  ASSERT_TRUE(none.ok);
  EXPECT_EQ(none.lines.current_firmware, "current firmware version access failed");
}

TEST(UpdateCheck, EmptyDocumentReadsVersionZero) {
  HttpTestServer server(200, "");
  FakeProgrammer programmer{0x11};
  const UpdateCheckResult r = Check(ConfigFor(server), programmer.Source());
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.lines.new_software, "new software version: V0.0  \r\n");
  EXPECT_EQ(r.lines.new_firmware, "new firmware version: V0.0     \r\n");
  EXPECT_EQ(r.lines.verdict, "current software is latest,current firmware is latest");
}

TEST(UpdateCheck, RefusedStatusesShowTheirTextThenTheFailureBox) {
  const std::vector<std::pair<int, std::string>> cases = {
      {404, "请求地址不存在:#404"}, {500, "未知服务器错误:#500"}, {503, "服务器容量不足:#503"},
      {400, "请求无法解析:#400"},   {418, "请求错误:#418"},       {302, "信息代码:#302"},
  };
  for (const auto& [status, text] : cases) {
    HttpTestServer server(status, "\x41\x30");
    FakeProgrammer programmer{0x10};
    const UpdateCheckResult r = Check(ConfigFor(server), programmer.Source());
    EXPECT_FALSE(r.ok) << status;
    EXPECT_EQ(r.http_status, static_cast<unsigned>(status));
    ASSERT_EQ(r.boxes.size(), 2u) << status;
    EXPECT_EQ(r.boxes[0].text, text);
    EXPECT_EQ(r.boxes[0].title, "VRNT_Tarvix");
    EXPECT_EQ(r.boxes[0].icon, BoxIcon::kNone);
    EXPECT_EQ(r.boxes[1].text, "version access failed    ");
    EXPECT_EQ(r.boxes[1].title, "error");
    EXPECT_EQ(r.boxes[1].icon, BoxIcon::kWarning);
    // A failed fetch never reaches the programmer.
    EXPECT_EQ(programmer.calls, 0) << status;
  }
}

TEST(UpdateCheck, SessionErrorsShowTheirTextCutTo100Bytes) {
  std::uint16_t closed_port;
  {
    HttpTestServer gone(200, "");
    closed_port = static_cast<std::uint16_t>(std::stoi(gone.Url("").substr(17)));
  }
  UpdateCheckConfig config = UpdateCheckConfig::Default();
  config.url = "http://127.0.0.1:" + std::to_string(closed_port) + kPath;
  const UpdateCheckResult r = Check(config, {});
  EXPECT_FALSE(r.ok);
  ASSERT_EQ(r.boxes.size(), 2u);
  EXPECT_FALSE(r.boxes[0].text.empty());
  EXPECT_LE(r.boxes[0].text.size(), 100u);
  EXPECT_EQ(r.boxes[1].text, "version access failed    ");

  // Only HTTP is fetched: another scheme is a session error, not a read of a file.
  config.url = "file:///etc/hostname";
  const UpdateCheckResult file = Check(config, {});
  EXPECT_FALSE(file.ok);
  ASSERT_EQ(file.boxes.size(), 2u);
  EXPECT_EQ(file.http_status, 0u);
  // The session's own error, not the status text a read of the file would give.
  EXPECT_NE(file.boxes[0].text, HttpStatusText(0));
}

TEST(UpdateCheck, ASilentServerEndsInTheTimeOut) {
  HttpTestServer server(0, "");
  const UpdateCheckResult r = Check(ConfigFor(server, 300ms), {});
  EXPECT_FALSE(r.ok);
  EXPECT_FALSE(r.cancelled);
  ASSERT_EQ(r.boxes.size(), 2u);
  EXPECT_NE(r.boxes[0].text.find("timed out"), std::string::npos) << r.boxes[0].text;
  EXPECT_EQ(r.boxes[1].text, "version access failed    ");
}

TEST(UpdateCheck, BoxesReachTheHostInOrder) {
  HttpTestServer server(404, "");
  const UpdateCheckResult r = Check(ConfigFor(server), {});
  RecordingHost host;
  ShowUpdateCheckBoxes(r, host);
  const auto boxes = host.RecordsOf(HostRecord::Kind::kMessageBox);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, "请求地址不存在:#404");
  EXPECT_EQ(boxes[0].title, "VRNT_Tarvix");
  EXPECT_EQ(boxes[0].buttons, BoxButtons::kOk);
  EXPECT_EQ(boxes[1].text, "version access failed    ");
  EXPECT_EQ(boxes[1].icon, BoxIcon::kWarning);
}

// The job a window drives: it returns at once, shows its steps, can be cancelled.
TEST(UpdateCheckJob, RunsOffTheCallerAndReportsItsSteps) {
  HttpTestServer server(200, "\x40\x21");
  FakeProgrammer programmer{0x10};
  std::mutex mutex;
  std::vector<std::string> steps;
  std::atomic<int> notices{0};
  UpdateCheck check(ConfigFor(server), programmer.Source());  // after what its notice uses
  check.SetNotify([&] {
    ++notices;
    std::lock_guard lock(mutex);
    const std::string step = check.Progress().step;
    if (steps.empty() || steps.back() != step) steps.push_back(step);
  });
  ASSERT_TRUE(check.Start());
  ASSERT_TRUE(check.Wait(10s));
  const std::optional<UpdateCheckResult> r = check.Result();
  ASSERT_TRUE(r.has_value());
  EXPECT_TRUE(r->ok);
  EXPECT_EQ(r->lines.verdict, "current software is latest,new firmware available");
  EXPECT_FALSE(check.Running());
  {
    std::lock_guard lock(mutex);
    ASSERT_GE(steps.size(), 2u);
    EXPECT_EQ(steps[0], "connecting to " + server.Url(kPath));
    EXPECT_EQ(steps.back(), "reading the programmer's firmware version");
  }
  // The steps, then the result; that last notice may come just after Wait() returned.
  for (int i = 0; i < 400 && notices.load() < 3; ++i) std::this_thread::sleep_for(5ms);
  EXPECT_GE(notices.load(), 3);
  // A second check may run once the first is over.
  EXPECT_TRUE(check.Start());
  EXPECT_TRUE(check.Wait(10s));
}

TEST(UpdateCheckJob, CancelStopsAWaitingFetchWithoutBoxes) {
  HttpTestServer server(0, "");
  UpdateCheck check(ConfigFor(server, 30s), {});
  ASSERT_TRUE(check.Start());
  EXPECT_FALSE(check.Start());  // one at a time
  // Let it reach the server first.
  for (int i = 0; i < 500 && server.Connections() == 0; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(check.Running());
  check.Cancel();
  ASSERT_TRUE(check.Wait(10s));
  const auto r = check.Result();
  ASSERT_TRUE(r.has_value());
  EXPECT_TRUE(r->cancelled);
  EXPECT_FALSE(r->ok);
  EXPECT_TRUE(r->boxes.empty());
}

// The firmware byte through ConnectDevice without its message.
struct FirmwareByteTest : ::testing::Test {
  VirtualClock clock;
  sim::SimBus bus{clock};
  sim::SimBackend usb{bus};
  MainState state;
  RecordingHost host{&state};
  UsbLink link{usb, host, state};
  CommandPacket packet;
  void SetUp() override {
    packet.SetMarks();
    link.SetLinkParameters();
  }
  sim::VirtualProgrammer& Add(std::uint8_t version) {
    sim::ProgrammerConfig config;
    config.firmware_version = version;
    return bus.AddProgrammer(config, 0);
  }
};

TEST_F(FirmwareByteTest, ReadsTheByteAndLeavesTheLinkOpen) {
  Add(0x10);
  EXPECT_EQ(ReadFirmwareVersionByte(link, packet), 0x10);
  EXPECT_TRUE(link.IsOpen());
  EXPECT_EQ(host.Count(HostRecord::Kind::kMessageBox), 0u);
}

TEST_F(FirmwareByteTest, AbsentSilentOrUnreadableGiveNothingAndNoBox) {
  EXPECT_EQ(ReadFirmwareVersionByte(link, packet), std::nullopt);  // no programmer
  sim::VirtualProgrammer& p = Add(0xFF);
  EXPECT_EQ(ReadFirmwareVersionByte(link, packet), std::nullopt);  // 0xFF: no version
  p.ReplaceReply(sim::ReplyKind::kVersion, {0x13});
  EXPECT_EQ(ReadFirmwareVersionByte(link, packet), 0x13);
  p.DropReply(sim::ReplyKind::kVersion);
  const std::int64_t before = clock.NowMs();
  EXPECT_EQ(ReadFirmwareVersionByte(link, packet), std::nullopt);  // silent
  EXPECT_GE(clock.NowMs() - before, 100);                          // waited its 100 ms
  EXPECT_EQ(host.Count(HostRecord::Kind::kMessageBox), 0u);
}

}  // namespace
}  // namespace tarvix
