// SPDX-License-Identifier: GPL-3.0-or-later
// Firmware upgrade against the simulated programmer: the whole exchange, the block
// and piece arithmetic, and every numbered failure with its exact texts.
#include "firmware/firmware_upgrade.h"

#include <gtest/gtest.h>

#include <functional>

#include "device/command_protocol.h"
#include "firmware/firmware_scramble.h"
#include "firmware/tvx_image.h"
#include "operations/operation_fixture.h"
#include "state/command_state.h"

namespace tarvix::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Kind = HostRecord::Kind;
using sim::ReplyFault;
using sim::ReplyKind;

struct Frame {
  std::uint8_t code;
  std::uint8_t value;
  int timeout_ms;
  bool operator==(const Frame&) const = default;
};

Bytes Payload(std::size_t size) {
  Bytes p(size);
  for (std::size_t i = 0; i < size; ++i) p[i] = static_cast<std::uint8_t>((i * 7 + i / 300) % 41);
  return p;
}

// A valid image of exactly `size` bytes.
Bytes Image(std::size_t size) {
  return *MakeTvx(Payload(size - kTvxTrailerSize));
}

class UpgradeTest : public ::testing::Test {
 protected:
  explicit UpgradeTest(bool programmer_in_dfu = false)
      : f("W25Q32BV", sim::ProgrammerConfig{.dfu_mode = programmer_in_dfu}) {
    dialog.SetBarListener([this](const FirmwareUpgradeDialog::Bar& bar) { bars.push_back(bar); });
  }

  std::filesystem::path UseFile(const Bytes& bytes, const std::string& name = "fw.tvx") {
    const auto path = f.WriteImageFile(name, bytes);
    dialog.ChooseFile(path);
    bars.clear();
    return path;
  }
  int Run() { return UpgradeFirmware(f.ctx, dialog); }

  std::vector<Frame> Frames() const {
    std::vector<Frame> out;
    for (const UsbTransfer& t : f.traffic.TransfersOf(UsbTransfer::Kind::kInterruptWrite))
      if (t.data.size() == kShortFrameSize) out.push_back({t.data[1], t.data[2], t.timeout_ms});
    return out;
  }
  std::vector<std::uint8_t> FrameCodes() const {
    std::vector<std::uint8_t> out;
    for (const Frame& fr : Frames()) out.push_back(fr.code);
    return out;
  }
  std::size_t CountFrames(std::uint8_t code) const {
    std::size_t n = 0;
    for (const Frame& fr : Frames()) n += fr.code == code;
    return n;
  }
  std::vector<std::string> BarTexts() const {
    std::vector<std::string> out;
    for (const auto& b : bars) out.push_back(b.text);
    return out;
  }
  bool BarShowed(const std::string& text) const {
    for (const auto& b : bars)
      if (b.text == text) return true;
    return false;
  }

  OperationFixture f;
  FirmwareUpgradeDialog dialog;
  std::vector<FirmwareUpgradeDialog::Bar> bars;
};

class UpgradeInDfuTest : public UpgradeTest {
 protected:
  UpgradeInDfuTest() : UpgradeTest(true) { f.state.dfu_mode = 1; }
};

TEST_F(UpgradeTest, SwitchesToDfuSendsReadsBackAndFinishes) {
  const Bytes image = Image(5000);
  UseFile(image);
  f.state.link_event = 1;
  std::vector<std::string> bar_at_beep;
  f.host.AddListener([&](HostModel::Change change) {
    if (change == HostModel::Change::kInformationBeep)
      bar_at_beep.push_back(dialog.CurrentBar().text);
  });
  EXPECT_EQ(Run(), kUpgradeSucceeded);
  // One information beep, between the last "verified" and the success text.
  EXPECT_EQ(bar_at_beep, (std::vector<std::string>{"verified100%"}));
  EXPECT_EQ(f.host.InformationBeepRequests(), 1);
  EXPECT_EQ(f.host.BeepRequests(), 0);

  EXPECT_EQ(f.programmer.FirmwareImage(), image);
  EXPECT_TRUE(f.programmer.FirmwareValid());
  EXPECT_EQ(f.state.dfu_mode.load(), 1);  // chip operations wait for a recognition
  EXPECT_EQ(f.state.link_event.load(), 0);
  EXPECT_FALSE(dialog.Running());
  EXPECT_EQ(dialog.CurrentBar().position, 100);
  EXPECT_EQ(dialog.CurrentBar().text, upgrade_text::kSucceeded);
  EXPECT_TRUE(f.host.BoxTexts().empty());

  // Code 21 once, with its short time-out; everything after it is 4-byte frames.
  const auto commands = f.traffic.Commands();
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0].code, 21);
  EXPECT_EQ(commands[0].timeout_ms, 100);

  const std::vector<std::uint8_t> expected_head{8, 1, 1, 13, 2, 2, 2, 2, 2, 1, 4};
  const auto codes = FrameCodes();
  ASSERT_GE(codes.size(), expected_head.size());
  EXPECT_EQ(std::vector<std::uint8_t>(codes.begin(), codes.begin() + 11), expected_head);
  const std::vector<std::uint8_t> expected_tail{5, 1, 9, 6, 6, 6, 6, 6, 1, 12, 10};
  EXPECT_EQ(std::vector<std::uint8_t>(codes.end() - 11, codes.end()), expected_tail);
  for (const Frame& fr : Frames()) EXPECT_EQ(fr.timeout_ms, 500);
  EXPECT_EQ(Frames()[Frames().size() - 2], (Frame{12, image[image.size() - 4], 500}));

  EXPECT_EQ(BarTexts().front(), upgrade_text::kEnteredDfu);
  for (const char* text : {"firmware erasing...", "erased20%", "erased100%", "written1%",
                           "written100%", "verified19%", "verified99%", "verified100%"})
    EXPECT_TRUE(BarShowed(text)) << text;
}

TEST_F(UpgradeTest, PiecesAreScrambledSixtyFourBytesAtATime) {
  f.traffic.KeepBulkData(true);
  const Bytes image = Image(64 * 5 + 7);
  UseFile(image);
  ASSERT_EQ(Run(), kUpgradeSucceeded);
  const auto writes = f.traffic.TransfersOf(UsbTransfer::Kind::kBulkWrite);
  ASSERT_EQ(writes.size(), 6u);
  for (std::size_t i = 0; i < writes.size(); ++i) {
    EXPECT_EQ(writes[i].size, i < 5 ? 64 : 7);
    EXPECT_EQ(writes[i].timeout_ms, 2000);
    for (std::size_t j = 0; j < writes[i].data.size(); ++j)
      ASSERT_EQ(writes[i].data[j], ScrambleFirmwareByte(image[i * 64 + j], i * 64 + j));
  }
}

TEST_F(UpgradeTest, LengthThatIsAMultipleOf64EndsOnTheEmptyRead) {
  UseFile(Image(64 * 20));
  ASSERT_EQ(Run(), kUpgradeSucceeded);
  const auto writes = f.traffic.TransfersOf(UsbTransfer::Kind::kBulkWrite);
  ASSERT_EQ(writes.size(), 20u);
  for (const UsbTransfer& w : writes) EXPECT_EQ(w.size, 64);
  EXPECT_TRUE(BarShowed("written100%"));
}

TEST_F(UpgradeTest, BlockCountsRoundUpAndTheEraseValueWrapsAt256) {
  for (const std::size_t size : {std::size_t{2 * 1024}, std::size_t{2 * 1024 + 1}}) {
    OperationFixture g;
    FirmwareUpgradeDialog d;
    d.ChooseFile(g.WriteImageFile("fw.tvx", Image(size)));
    ASSERT_EQ(UpgradeFirmware(g.ctx, d), kUpgradeSucceeded) << size;
    EXPECT_EQ(g.programmer.FrameCount(2), size / 1024 + (size % 1024 ? 1 : 0)) << size;
    EXPECT_EQ(g.programmer.FrameCount(6), size / 1024 + (size % 1024 ? 1 : 0)) << size;
  }

  const Bytes image = Image(300 * 1024 + 1);
  UseFile(image);
  ASSERT_EQ(Run(), kUpgradeSucceeded);
  std::vector<std::uint8_t> erase_values;
  for (const Frame& fr : Frames())
    if (fr.code == 2) erase_values.push_back(fr.value);
  ASSERT_EQ(erase_values.size(), 301u);
  for (std::size_t b = 0; b < erase_values.size(); ++b) ASSERT_EQ(erase_values[b], b % 256) << b;
  EXPECT_EQ(f.programmer.FirmwareImage(), image);
}

TEST_F(UpgradeTest, BadFileIsRefusedBeforeAnythingIsSent) {
  Bytes image = Image(3000);
  image[10] ^= 0x04;
  for (const Bytes& bytes : {image, Bytes{1, 2, 3}}) {
    f.traffic.Clear();
    f.host.ClearRecords();
    UseFile(bytes);
    EXPECT_EQ(Run(), 1);
    EXPECT_TRUE(f.traffic.TransfersOf(UsbTransfer::Kind::kInterruptWrite).empty());
    const HostRecord status = f.host.LastStatus();
    EXPECT_EQ(status.text, "file error#1");
    EXPECT_TRUE(status.red);
    EXPECT_TRUE(status.beep);
    EXPECT_EQ(dialog.CurrentBar().text, "file error#1");
    EXPECT_EQ(dialog.CurrentBar().position, 0);
  }
  dialog.ChooseFile(f.scratch.path / "no-such.tvx");
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(f.state.dfu_mode.load(), 0);
  EXPECT_FALSE(f.programmer.InDfuMode());
}

TEST_F(UpgradeTest, MissingProgrammerIsToldInABoxOnly) {
  f.bus.Unplug();
  UseFile(Image(2000));
  EXPECT_EQ(Run(), kUpgradeNoProgrammer);
  const auto boxes = f.host.RecordsOf(Kind::kMessageBox);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "device is unconnected!       ");
  EXPECT_EQ(boxes[0].title, "info");
  EXPECT_EQ(boxes[0].icon, BoxIcon::kWarning);
  EXPECT_FALSE(dialog.Running());
}

TEST_F(UpgradeInDfuTest, AlreadyInDfuModeStartsAtTheStartFrame) {
  const Bytes image = Image(4000);
  UseFile(image);
  ASSERT_EQ(Run(), kUpgradeSucceeded);
  EXPECT_TRUE(f.traffic.Commands().empty());  // no code 21
  EXPECT_EQ(CountFrames(8), 0u);              // no handshake
  const auto codes = FrameCodes();
  ASSERT_GE(codes.size(), 2u);
  EXPECT_EQ(codes[0], 1);
  EXPECT_EQ(codes[1], 13);
  EXPECT_EQ(f.programmer.FirmwareImage(), image);
  EXPECT_FALSE(BarShowed(upgrade_text::kEnteredDfu));
}

TEST_F(UpgradeTest, ProgrammerTakingPartOfAPieceGetsTheRest) {
  f.programmer.AcceptPartialBulkWrites(10, 3);
  const Bytes image = Image(1000);
  UseFile(image);
  ASSERT_EQ(Run(), kUpgradeSucceeded);
  EXPECT_EQ(f.programmer.FirmwareImage(), image);
}

TEST(FirmwareUpgradeDialogTest, ButtonAndCloseFollowTheFileAndTheRunningFlag) {
  FirmwareUpgradeDialog d;
  EXPECT_EQ(d.CurrentBar().text, "please select firmware file...");
  EXPECT_FALSE(d.PressUpgrade());
  d.ChooseFile("/tmp/x.tvx");
  EXPECT_EQ(d.CurrentBar().text, "upgrade is ready");
  EXPECT_EQ(d.FilePath(), "/tmp/x.tvx");
  EXPECT_TRUE(d.PressUpgrade());
  EXPECT_TRUE(d.CanClose());
  d.SetRunning(true);
  EXPECT_FALSE(d.PressUpgrade());
  EXPECT_FALSE(d.CanClose());
  d.SetRunning(false);
  d.Open();
  EXPECT_EQ(d.CurrentBar().text, "please select firmware file...");
  EXPECT_EQ(d.CurrentBar().position, 0);
  // Opened again, the dialog starts without the file of its last use.
  EXPECT_FALSE(d.UpgradeEnabled());
  EXPECT_FALSE(d.PressUpgrade());
  EXPECT_TRUE(d.FilePath().empty());
}

// Each failure number, from the simulator knob that provokes it.
struct FailureCase {
  int number;
  std::function<void(sim::VirtualProgrammer&)> knob;
  const char* status;  // the last status line, "" when the run shows none
  bool status_red;
  const char* bar;  // the dialog's text at the end, "" when unchanged by the failure
  const char* box;  // "" when no box
  BoxIcon icon;
};

class UpgradeFailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(UpgradeFailureTest, ReportsItsNumberAndExactTexts) {
  const FailureCase& c = GetParam();
  OperationFixture f;
  FirmwareUpgradeDialog dialog;
  const auto path = f.WriteImageFile("fw.tvx", Image(4096));
  dialog.ChooseFile(path);
  c.knob(f.programmer);
  EXPECT_EQ(UpgradeFirmware(f.ctx, dialog), c.number);
  EXPECT_EQ(f.host.InformationBeepRequests(), 0);
  EXPECT_FALSE(dialog.Running());
  EXPECT_EQ(f.state.dfu_mode.load(), 1);

  const HostRecord status = f.host.LastStatus();
  EXPECT_EQ(status.text, c.status);
  if (*c.status) {
    EXPECT_EQ(status.red, c.status_red);
    EXPECT_EQ(status.beep, c.status_red);
  }
  if (*c.bar) {
    EXPECT_EQ(dialog.CurrentBar().text, c.bar);
  }
  const auto boxes = f.host.RecordsOf(Kind::kMessageBox);
  if (*c.box) {
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, c.box);
    EXPECT_EQ(boxes[0].title, "info");
    EXPECT_EQ(boxes[0].icon, c.icon);
  } else {
    EXPECT_TRUE(boxes.empty());
  }
  // After a failure in the exchange (not at the start frame) the programmer is told to
  // leave it.
  const auto frames = f.traffic.TransfersOf(UsbTransfer::Kind::kInterruptWrite);
  ASSERT_FALSE(frames.empty());
  if (c.number != 2 && c.number != 4 && c.number != 5) {
    EXPECT_EQ(frames.back().data[1], 1);
  }
}

ReplyFault Fault(ReplyKind kind, ReplyFault::Action action, std::uint64_t size = 0, int skip = 0) {
  ReplyFault fault;
  fault.kind = kind;
  fault.action = action;
  fault.size = size;
  fault.skip = skip;
  return fault;
}

using Action = ReplyFault::Action;
INSTANTIATE_TEST_SUITE_P(
    EveryNumber, UpgradeFailureTest,
    ::testing::Values(
        FailureCase{2, [](sim::VirtualProgrammer& p) { p.FailReenumeration(true); },
                    "device connect error#2!       ", true, "", "device connect error#2!       ",
                    BoxIcon::kWarning},
        FailureCase{3, [](sim::VirtualProgrammer& p) { p.DropReply(ReplyKind::kDfuHandshake, -1); },
                    "", false, "device enter dfu mode failed#3...",
                    "device enter dfu mode failed#3！       ", BoxIcon::kWarning},
        FailureCase{
            4, [](sim::VirtualProgrammer& p) { p.ReplaceReply(ReplyKind::kDfuStart, {0x00}); },
            "firmware upgrade failed#4", true, "firmware upgrade failed#4", "", BoxIcon::kNone},
        FailureCase{5, [](sim::VirtualProgrammer& p) { p.DropReply(ReplyKind::kDfuStart); },
                    "firmware upgrade failed#5", true, "firmware upgrade failed#5", "",
                    BoxIcon::kNone},
        FailureCase{6,
                    [](sim::VirtualProgrammer& p) {
                      p.AddReplyFault(Fault(ReplyKind::kDfuErase, Action::kDrop, 0, 2));
                    },
                    "", false, "device connect error#6",
                    "device connect error\r\nfirmware upgrade failed#6    ", BoxIcon::kError},
        FailureCase{
            7,
            [](sim::VirtualProgrammer& p) {
              p.AddLinkFault({sim::Pipe::kBulkOut, sim::LinkFault::Action::kFail, 0, 10, 1});
            },
            "", false, "device connect error! firmware upgrade failed#7",
            "device connect error\r\nfirmware upgrade failed#7   ", BoxIcon::kError},
        FailureCase{8,
                    [](sim::VirtualProgrammer& p) {
                      p.AddReplyFault(Fault(ReplyKind::kDfuReadBack, Action::kCorrupt, 100, 3));
                    },
                    "", false, "device connect error! firmware upgrade failed#8",
                    "device connect error\r\nfirmware upgrade failed#8   ", BoxIcon::kError},
        FailureCase{9,
                    [](sim::VirtualProgrammer& p) {
                      p.AddReplyFault(Fault(ReplyKind::kDfuReadBack, Action::kTruncate, 1000, 1));
                    },
                    "", false, "device connect error! firmware upgrade failed#9   ",
                    "device connect error\r\nfirmware upgrade failed#9   ", BoxIcon::kError},
        FailureCase{
            10, [](sim::VirtualProgrammer& p) { p.ReplaceReply(ReplyKind::kDfuFinish, {0x0B}); },
            "verify failed#10", false, "", "", BoxIcon::kNone},
        FailureCase{11, [](sim::VirtualProgrammer& p) { p.DropReply(ReplyKind::kDfuFinish); },
                    "verify failed#11", false, "", "", BoxIcon::kNone}),
    [](const ::testing::TestParamInfo<FailureCase>& info) {
      return "Failure" + std::to_string(info.param.number);
    });

TEST_F(UpgradeTest, FailuresThatKeepTheStatusLineLeaveItAlone) {
  // #3 and #6 to #9 report in the dialog and a box, not in the status line.
  f.host.ShowStatus("earlier", false, false);
  f.programmer.AddReplyFault(Fault(ReplyKind::kDfuErase, Action::kDrop, 0, 0));
  UseFile(Image(3000));
  EXPECT_EQ(Run(), 6);
  EXPECT_EQ(f.host.LastStatus().text, "earlier");
  EXPECT_EQ(CountFrames(2), 1u);  // nothing is retried
}

}  // namespace
}  // namespace tarvix::testing
