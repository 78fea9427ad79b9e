// SPDX-License-Identifier: GPL-3.0-or-later
// Chip recognition and chip test on the simulated programmer: what is selected, what
// the user is told, and what goes over the wire.
#include <gtest/gtest.h>

#include <algorithm>

#include "state/command_state.h"
#include "device/command_protocol.h"
#include "operations/operation_fixture.h"
#include "operations/recognition.h"

namespace tarvix::testing {
namespace {

using Kind = HostRecord::Kind;

constexpr WorkerCommand kTestCommand = 23;
constexpr WorkerCommand kEraseCommand = 5;

const char kFindSeveral[] =
    "find SPI FLASH,but cannot specify it's type,please select chip type manully!";

// The packet bytes a record's parameters give, for comparing with what was sent.
PacketBytes ParametersOf(const ChipCatalogue& catalogue, std::int32_t index) {
  CommandPacket p;
  std::uint32_t capacity = 0;
  EXPECT_TRUE(p.LoadChipParameters(catalogue, index, &capacity));
  return p.Bytes();
}

// Bytes 1 (organisation and voltage bits only) to 12 of two packets are equal.
void ExpectSameChipParameters(const PacketBytes& sent, const PacketBytes& expected) {
  EXPECT_EQ(sent[1] & 0xC0, expected[1] & 0xC0);
  for (std::size_t i = 2; i <= 12; ++i) EXPECT_EQ(sent[i], expected[i]) << "byte " << i;
}

bool Enabled(const std::vector<HostRecord>& records, Kind kind, int id) {
  return std::any_of(records.begin(), records.end(),
                     [&](const HostRecord& r) { return r.kind == kind && r.id == id; });
}

TEST(ChipRecognition, DoesNothingWithAutoRecognizeOff) {
  OperationFixture f("W25X80");
  f.SetAutoRecognize(false);
  f.state.link_event = 1;
  EXPECT_EQ(ChipRecognition(f.ctx, true), kRecognisedInCatalogue);
  EXPECT_TRUE(f.traffic.Transfers().empty());
  EXPECT_TRUE(f.host.Records().empty());
  EXPECT_EQ(f.clock.NowMs(), 0);
  EXPECT_EQ(f.SelectedModel(), "W25X05");
}

TEST(ChipRecognition, SingleMatchSelectsTheRecordAndRestoresItsParameters) {
  OperationFixture f("W25X80");
  f.state.selection_changed = 1;  // left over from an earlier run
  ASSERT_EQ(f.SelectedModel(), "W25X05");

  EXPECT_EQ(ChipRecognition(f.ctx, true), kRecognisedInCatalogue);

  EXPECT_EQ(f.SelectedModel(), "W25X80");
  EXPECT_EQ(f.state.selection_changed.load(), 0);  // one match: no question to settle
  EXPECT_EQ(f.state.chip_capacity.load(), 1u << 20);
  const HostRecord status = f.host.LastStatus();
  EXPECT_EQ(status.text, "find SPI FLASH");
  EXPECT_FALSE(status.red);
  EXPECT_TRUE(f.host.BoxTexts().empty());  // recognition is silent
  const auto records = f.host.Records();
  EXPECT_TRUE(Enabled(records, Kind::kEnableMenuItem, control_id::kChipFill));
  EXPECT_TRUE(Enabled(records, Kind::kEnableMenuItem, control_id::kViewData));
  // No image is loaded, so View Data is grayed first.
  EXPECT_TRUE(Enabled(records, Kind::kGrayMenuItem, control_id::kViewData));

  // Five SPI probes answer, then the evaluation decides; the selected chip's
  // parameters go back to the programmer last.
  const auto commands = f.traffic.Commands();
  ASSERT_EQ(commands.size(), 11u);
  const std::uint8_t byte3[] = {0x00, 0x20, 0x60, 0x70, 0x80};
  for (int probe = 0; probe < 5; ++probe) {
    const SentCommand& set = commands[2 * probe];
    const SentCommand& id = commands[2 * probe + 1];
    EXPECT_EQ(set.code, command_code::kSetParameters);
    EXPECT_EQ(set.timeout_ms, 100);
    EXPECT_EQ(set.bytes[1] & 0x80, 0) << "SPI probes run without the voltage flag";
    EXPECT_EQ(set.bytes[2], 0x00);
    EXPECT_EQ(set.bytes[3], byte3[probe]);
    EXPECT_EQ(id.code, command_code::kReadChipId);
    EXPECT_EQ(id.timeout_ms, 5000);
    // 6 ms after every code 0, 60 ms more when the probe group changes (probe 1).
    EXPECT_EQ(id.at_ms - set.at_ms, probe == 0 ? 66 : 6);
  }
  const SentCommand& restore = commands.back();
  EXPECT_EQ(restore.code, command_code::kSetParameters);
  EXPECT_EQ(restore.timeout_ms, 5000);
  ExpectSameChipParameters(restore.bytes, ParametersOf(f.catalogue, f.RecordIndex("W25X80")));
  ExpectSameChipParameters(f.packet.Bytes(), ParametersOf(f.catalogue, f.RecordIndex("W25X80")));
  ASSERT_TRUE(f.programmer.StoredParameters().has_value());
  EXPECT_EQ(f.programmer.StoredParameters()->capacity, 1u << 20);
  EXPECT_EQ(f.programmer.StoredParameters()->operation_type_low, 0x00);

  // Every ID read asks for 3 bytes within 5000 ms.
  int id_reads = 0;
  for (const UsbTransfer& t : f.traffic.TransfersOf(UsbTransfer::Kind::kBulkRead)) {
    if (t.size != 3) continue;
    ++id_reads;
    EXPECT_EQ(t.timeout_ms, 5000);
    EXPECT_EQ(t.data, (std::vector<std::uint8_t>{0xEF, 0x30, 0x14}));
  }
  EXPECT_EQ(id_reads, 5);
}

TEST(ChipRecognition, SeveralMatchesKeepASelectionThatIsAmongThem) {
  // W25X05 and W25X05CL share their ID; W25X05 is selected already.
  OperationFixture f("W25X05CL");
  ASSERT_EQ(f.SelectedModel(), "W25X05");
  EXPECT_EQ(ChipRecognition(f.ctx, true), kRecognisedInCatalogue);
  EXPECT_EQ(f.SelectedModel(), "W25X05");
  EXPECT_EQ(f.state.selection_changed.load(), 0);
  EXPECT_EQ(f.host.LastStatus().text, kFindSeveral);
  EXPECT_TRUE(f.host.LastStatus().red);
}

TEST(ChipRecognition, SeveralMatchesSelectTheFirstAndFlagTheChange) {
  OperationFixture f("W25X05CL");
  ASSERT_TRUE(f.Select("W25X80"));
  EXPECT_EQ(ChipRecognition(f.ctx, true), kRecognisedInCatalogue);
  EXPECT_EQ(f.SelectedModel(), "W25X05");  // first of the two in table order
  EXPECT_EQ(f.state.selected_chip_index.load(), f.RecordIndex("W25X05"));
  EXPECT_EQ(f.state.selection_changed.load(), 1);
  EXPECT_EQ(f.host.LastStatus().text, kFindSeveral);
  // The restored parameters are those of the newly selected record.
  ExpectSameChipParameters(f.traffic.Commands().back().bytes,
                           ParametersOf(f.catalogue, f.RecordIndex("W25X05")));
}

struct FamilyCase {
  const char* model;
  int position;
  const char* type;
  const char* recognition_text;
  const char* test_text;
  std::size_t probes;  // ID reads until the family answers
};

class EepromFamily : public ::testing::TestWithParam<FamilyCase> {};

TEST_P(EepromFamily, RecognitionSelectsTheFamilyAndLeavesTheModelToTheUser) {
  const FamilyCase& c = GetParam();
  OperationFixture f(c.model);
  EXPECT_EQ(ChipRecognition(f.ctx, true), kRecognisedFamily);
  EXPECT_EQ(f.selection.TypeIndex(), c.position);
  EXPECT_EQ(f.selection.CurrentType(), c.type);
  EXPECT_EQ(f.selection.ManufacturerIndex(), 0);
  EXPECT_EQ(f.selection.ModelIndex(), 0);
  EXPECT_EQ(f.state.selection_changed.load(), 1);
  EXPECT_EQ(f.host.LastStatus().text, c.recognition_text);
  EXPECT_TRUE(f.host.LastStatus().red);
  EXPECT_EQ(f.traffic.CountCommand(command_code::kReadChipId), c.probes);
  // The EEPROM probes carry the voltage flag and the family in byte 2.
  const auto commands = f.traffic.Commands();
  const SentCommand& last_probe = commands[commands.size() - 3];
  EXPECT_EQ(last_probe.code, command_code::kSetParameters);
  EXPECT_EQ(last_probe.bytes[1] & 0x80, 0x80);
  EXPECT_EQ(last_probe.bytes[2], c.position);
  // The family's first record is current and its parameters are back in the packet.
  const PacketBytes expected = ParametersOf(f.catalogue, f.state.selected_chip_index.load());
  ExpectSameChipParameters(commands.back().bytes, expected);
  EXPECT_EQ(f.selection.CurrentRecord()->type, c.type);
}

TEST_P(EepromFamily, AlreadyShownFamilyChangesNothing) {
  const FamilyCase& c = GetParam();
  OperationFixture f(c.model);
  ASSERT_TRUE(f.Select(c.model));
  const std::int32_t before = f.state.selected_chip_index.load();
  EXPECT_EQ(ChipRecognition(f.ctx, true), kRecognisedFamily);
  EXPECT_EQ(f.state.selected_chip_index.load(), before);
  EXPECT_EQ(f.state.selection_changed.load(), 0);
  EXPECT_EQ(f.host.LastStatus().text, c.recognition_text);
}

TEST_P(EepromFamily, TestReportsOnlyWhenStartedByTheTestButtonOrTheSelectionChanged) {
  const FamilyCase& c = GetParam();
  {
    // Pre-check of an operation, family already shown: nothing to say.
    OperationFixture f(c.model);
    ASSERT_TRUE(f.Select(c.model));
    f.host.ClearRecords();
    f.state.command_code = kEraseCommand;
    EXPECT_EQ(ChipTest(f.ctx), kRecognisedFamily);
    EXPECT_TRUE(f.host.StatusTexts().empty());
    EXPECT_TRUE(f.host.BoxTexts().empty());
  }
  {
    // Pre-check that had to change the list: the status, but no box.
    OperationFixture f(c.model);
    f.state.command_code = kEraseCommand;
    EXPECT_EQ(ChipTest(f.ctx), kRecognisedFamily);
    EXPECT_EQ(f.host.LastStatus().text, c.test_text);
    EXPECT_TRUE(f.host.BoxTexts().empty());
  }
  {
    OperationFixture f(c.model);
    ASSERT_TRUE(f.Select(c.model));
    f.state.command_code = kTestCommand;
    EXPECT_EQ(ChipTest(f.ctx), kRecognisedFamily);
    EXPECT_EQ(f.host.LastStatus().text, c.test_text);
    const auto boxes = f.host.RecordsOf(Kind::kMessageBox);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, std::string(c.test_text) + "      ");
    EXPECT_EQ(boxes[0].title, "info");
    EXPECT_EQ(boxes[0].icon, BoxIcon::kInformation);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Families, EepromFamily,
    ::testing::Values(FamilyCase{"AT24C02", 1, "24 EEPROM",
                                 "find 24 EEPROM,please select chip type manully !",
                                 "find 24 EEPROM,please select chip type manully !", 6},
                      FamilyCase{"AT25128", 2, "25 EEPROM",
                                 "find 25 EEPROM,,please select chip type manully!",
                                 "find 25 EEPROM,please select chip type manully !", 7},
                      FamilyCase{"AT93C46(8bit)", 3, "93 EEPROM",
                                 "find 93 EEPROM,please select chip type manully!",
                                 "find 93 EEPROM,please select chip type manully !", 8}),
    [](const ::testing::TestParamInfo<FamilyCase>& info) {
      return std::string("Position") + std::to_string(info.param.position);
    });

TEST(ChipRecognition, ProgrammerInUpdateModeIsReported) {
  sim::ProgrammerConfig config;
  config.dfu_mode = true;
  OperationFixture f("W25X80", config);
  EXPECT_EQ(ChipRecognition(f.ctx, true), kNoChip);
  EXPECT_EQ(f.state.dfu_mode.load(), 1);
  EXPECT_EQ(f.host.LastStatus().text, "device is in dfu mode!");
  EXPECT_TRUE(f.host.LastStatus().red);
  EXPECT_EQ(f.traffic.CountCommand(command_code::kReadChipId), 1u);
  EXPECT_EQ(f.traffic.Commands().back().code, command_code::kSetParameters);
  EXPECT_EQ(f.SelectedModel(), "W25X05");

  // The next run starts with the flag clear and sets it again while the mode lasts.
  f.host.ClearRecords();
  f.state.command_code = kTestCommand;
  EXPECT_EQ(ChipTest(f.ctx), kNoChip);
  EXPECT_EQ(f.state.dfu_mode.load(), 1);
  EXPECT_EQ(f.host.BoxTexts(), std::vector<std::string>{"device is in dfu mode!      "});
}

TEST(ChipRecognition, EmptySocketRunsEveryProbeAndFindsNothing) {
  OperationFixture f("");
  const std::int64_t start = f.clock.NowMs();
  EXPECT_EQ(ChipRecognition(f.ctx, true), kNoChip);
  EXPECT_EQ(f.host.LastStatus().text, "device connected,not find chip!");
  EXPECT_TRUE(f.host.LastStatus().red);
  EXPECT_EQ(f.traffic.CountCommand(command_code::kReadChipId), 11u);
  EXPECT_EQ(f.SelectedModel(), "W25X05");
  EXPECT_EQ(f.state.selection_changed.load(), 0);
  // The settle wait is paid twice (probes 1 and 6), the 6 ms wait eleven times.
  EXPECT_GE(f.clock.NowMs() - start, 2 * 60 + 11 * 6 + 100);

  // The EEPROM probe settings, in order, with the voltage flag.
  std::vector<std::pair<int, int>> eeprom_probes;
  for (const SentCommand& c : f.traffic.Commands())
    if (c.code == command_code::kSetParameters && (c.bytes[1] & 0x80) && c.timeout_ms == 100)
      eeprom_probes.emplace_back(c.bytes[2], c.bytes[3]);
  const std::vector<std::pair<int, int>> expected{{1, 0x00}, {2, 0x00}, {3, 0x00},
                                                  {3, 0x10}, {3, 0x01}, {3, 0x11}};
  EXPECT_EQ(eeprom_probes, expected);
}

TEST(ChipRecognition, IdsWithFourZerosAreSkippedButThreeZerosCount) {
  {
    sim::ChipDescription d;
    d.model = "noise";
    d.capacity = 1 << 20;
    d.main_id = 0x001F00;
    OperationFixture f("");
    f.PutChip(d);
    EXPECT_EQ(ChipRecognition(f.ctx, true), kNoChip);
    EXPECT_EQ(f.host.LastStatus().text, "device connected,not find chip!");
    EXPECT_EQ(f.traffic.CountCommand(command_code::kReadChipId), 11u);
  }
  {
    sim::ChipDescription d;
    d.model = "unlisted";
    d.capacity = 1 << 20;
    d.main_id = 0xEF4000;  // no record has it
    OperationFixture f("");
    f.PutChip(d);
    EXPECT_EQ(ChipRecognition(f.ctx, true), kRecognisedFamily);
    EXPECT_EQ(f.host.LastStatus().text, "find unrecognised SPI FLASH");
    EXPECT_FALSE(f.host.LastStatus().red);
    EXPECT_EQ(f.traffic.CountCommand(command_code::kReadChipId), 5u);
    EXPECT_EQ(f.SelectedModel(), "W25X05");
  }
}

TEST(ChipRecognition, SkippedFifthProbeMeansTheSpiAnswersAreNeverLookedUp) {
  OperationFixture f("W25X80");
  sim::ReplyFault shorter;
  shorter.kind = sim::ReplyKind::kChipId;
  shorter.action = sim::ReplyFault::Action::kTruncate;
  shorter.size = 2;
  shorter.skip = 4;
  f.programmer.AddReplyFault(shorter);
  EXPECT_EQ(ChipRecognition(f.ctx, true), kNoChip);
  EXPECT_EQ(f.host.LastStatus().text, "device connected,not find chip!");
  EXPECT_EQ(f.SelectedModel(), "W25X05");
  EXPECT_EQ(f.traffic.CountCommand(command_code::kReadChipId), 11u);
}

TEST(ChipRecognition, SecondaryIdIsTheLastResort) {
  // A chip answering only with a catalogue secondary ID (top byte zero).
  sim::ChipDescription d;
  d.model = "old";
  d.capacity = 64 * 1024;
  d.main_id = 0x00C205;
  OperationFixture f("");
  f.PutChip(d);
  f.state.command_code = kTestCommand;
  EXPECT_EQ(ChipTest(f.ctx), kRecognisedInCatalogue);
  EXPECT_EQ(f.SelectedModel(), "MX25L512E");
  EXPECT_EQ(f.host.LastStatus().text, "find SPI FLASH");
  EXPECT_EQ(f.host.BoxTexts(),
            std::vector<std::string>{"find:\r\ntype:25 SPI FLASH\r\nfirm:Macronix\r\nchip:MX25L512E"
                                     "          "});
}

TEST(ChipTest, TestButtonShowsTheChipFound) {
  OperationFixture f("W25X80");
  f.state.command_code = kTestCommand;
  f.state.link_event = 1;  // the test never reads the identity nor waits for it
  EXPECT_EQ(ChipTest(f.ctx), kRecognisedInCatalogue);
  const auto boxes = f.host.RecordsOf(Kind::kMessageBox);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "find\r\ntype:25 SPI FLASH\r\nfirm:Winbond\r\nchip:W25X80          ");
  EXPECT_EQ(boxes[0].title, "info");
  EXPECT_EQ(boxes[0].icon, BoxIcon::kInformation);
  EXPECT_EQ(f.traffic.CountCommand(command_code::kProgrammerIdentity), 0u);
  EXPECT_TRUE(f.host.RecordsOf(Kind::kPicture).empty());
  for (const SentCommand& c : f.traffic.Commands())
    EXPECT_EQ(c.timeout_ms, 5000) << "code " << int{c.code};
}

TEST(ChipTest, PreCheckIsQuieterThanTheTestButton) {
  {
    OperationFixture f("W25X80");
    f.state.command_code = kEraseCommand;
    EXPECT_EQ(ChipTest(f.ctx), kRecognisedInCatalogue);
    EXPECT_EQ(f.host.StatusTexts(), std::vector<std::string>{"find SPI FLASH"});
    EXPECT_TRUE(f.host.BoxTexts().empty());
  }
  {
    // Several matches, selection kept: the pre-check says nothing.
    OperationFixture f("W25X05CL");
    f.state.command_code = kEraseCommand;
    EXPECT_EQ(ChipTest(f.ctx), kRecognisedInCatalogue);
    EXPECT_TRUE(f.host.StatusTexts().empty());
    EXPECT_EQ(f.state.selection_changed.load(), 0);
  }
  {
    // Several matches, selection moved: the pre-check warns in red.
    OperationFixture f("W25X05CL");
    ASSERT_TRUE(f.Select("W25X80"));
    f.state.command_code = kEraseCommand;
    EXPECT_EQ(ChipTest(f.ctx), kRecognisedInCatalogue);
    EXPECT_EQ(f.host.StatusTexts(), std::vector<std::string>{kFindSeveral});
    EXPECT_TRUE(f.host.BoxTexts().empty());
  }
  {
    OperationFixture f("W25X05CL");
    f.state.command_code = kTestCommand;
    EXPECT_EQ(ChipTest(f.ctx), kRecognisedInCatalogue);
    EXPECT_EQ(f.host.StatusTexts(), std::vector<std::string>{kFindSeveral});
    EXPECT_EQ(f.host.BoxTexts(), std::vector<std::string>{std::string(kFindSeveral) + "    "});
  }
  {
    sim::ChipDescription d;
    d.capacity = 1 << 20;
    d.main_id = 0xABCDEF;
    OperationFixture f("");
    f.PutChip(d);
    f.state.command_code = kTestCommand;
    EXPECT_EQ(ChipTest(f.ctx), kRecognisedFamily);
    EXPECT_EQ(f.host.BoxTexts(), std::vector<std::string>{"find unrecognised SPI FLASH   "});
  }
  {
    OperationFixture f("");
    f.state.command_code = kTestCommand;
    EXPECT_EQ(ChipTest(f.ctx), kNoChip);
    EXPECT_EQ(f.host.BoxTexts(), std::vector<std::string>{"device connected,not find chip!     "});
  }
}

TEST(ChipRecognition, LinkEventReadsTheProgrammerIdentity) {
  sim::ProgrammerConfig config;
  config.serial = 130042;
  OperationFixture f("W25X80", config);
  f.state.link_event = 1;
  EXPECT_EQ(ChipRecognition(f.ctx, true), kRecognisedInCatalogue);
  EXPECT_EQ(f.traffic.CountCommand(command_code::kProgrammerIdentity), 1u);
  const auto pictures = f.host.RecordsOf(Kind::kPicture);
  ASSERT_EQ(pictures.size(), 1u);
  EXPECT_EQ(pictures[0].id, 1073);
  EXPECT_EQ(pictures[0].value, 227);
  // The identity is asked before the first probe.
  EXPECT_EQ(f.traffic.CommandCodes().front(), command_code::kProgrammerIdentity);
  // The 50 ms wait comes before the programmer is even looked for.
  EXPECT_EQ(f.traffic.Transfers().front().at_ms, 50);

  OperationFixture g("W25X80");  // serial 123456
  g.state.link_event = 1;
  EXPECT_EQ(ChipRecognition(g.ctx, true), kRecognisedInCatalogue);
  EXPECT_EQ(g.host.RecordsOf(Kind::kPicture).at(0).value, 208);

  OperationFixture h("W25X80");  // no link event: no identity, no picture
  EXPECT_EQ(ChipRecognition(h.ctx, true), kRecognisedInCatalogue);
  EXPECT_EQ(h.traffic.CountCommand(command_code::kProgrammerIdentity), 0u);
  EXPECT_TRUE(h.host.RecordsOf(Kind::kPicture).empty());
}

TEST(ChipRecognition, MissingProgrammerStopsAtTheLinkCheck) {
  OperationFixture f("W25X80");
  f.bus.Unplug();
  f.host.ClearRecords();
  EXPECT_EQ(ChipRecognition(f.ctx, true), kNoProgrammer);
  const HostRecord status = f.host.LastStatus();
  EXPECT_EQ(status.text, "device is unconnected");
  EXPECT_TRUE(status.red);
  EXPECT_TRUE(status.beep);
  EXPECT_TRUE(f.host.BoxTexts().empty());
  EXPECT_TRUE(Enabled(f.host.Records(), Kind::kGrayMenuItem, control_id::kChipFill));
  EXPECT_TRUE(f.traffic.Commands().empty());  // nothing to restore without a link

  f.host.ClearRecords();
  EXPECT_EQ(ChipTest(f.ctx), kNoProgrammer);
  EXPECT_FALSE(f.host.LastStatus().beep);
  const auto boxes = f.host.RecordsOf(Kind::kMessageBox);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "device is unconnected     ");
  EXPECT_EQ(boxes[0].icon, BoxIcon::kWarning);
}

TEST(ChipRecognition, ProgrammerThatCannotBeConfigured) {
  OperationFixture f("W25X80");
  f.programmer.RefuseConfiguration(true);
  EXPECT_EQ(ChipRecognition(f.ctx, true), kNoProgrammer);
  EXPECT_EQ(f.host.LastStatus().text, "device cannot open!");
  EXPECT_TRUE(f.host.LastStatus().beep);
  EXPECT_FALSE(f.link.IsOpen());

  f.host.ClearRecords();
  EXPECT_EQ(ChipTest(f.ctx), kNoProgrammer);
  EXPECT_EQ(f.host.BoxTexts(), std::vector<std::string>{"device cannot open!   "});
}

TEST(ChipRecognition, IdCommandThatCannotBeSent) {
  OperationFixture f("W25X80");
  sim::LinkFault fault;
  fault.pipe = sim::Pipe::kInterruptOut;
  fault.action = sim::LinkFault::Action::kFail;
  fault.skip = 1;  // the first code 0 goes out, code 7 does not
  f.programmer.AddLinkFault(fault);
  EXPECT_EQ(ChipRecognition(f.ctx, true), kNoProgrammer);
  EXPECT_EQ(f.host.LastStatus().text, "device cannot open");
  EXPECT_TRUE(f.host.LastStatus().red);
  EXPECT_TRUE(Enabled(f.host.Records(), Kind::kGrayMenuItem, control_id::kChipFill));
  // The parameters are still restored.
  const auto commands = f.traffic.Commands();
  ASSERT_EQ(commands.size(), 3u);
  EXPECT_FALSE(commands[1].sent);
  EXPECT_EQ(commands[2].code, command_code::kSetParameters);
  EXPECT_EQ(commands[2].timeout_ms, 5000);
  EXPECT_TRUE(commands[2].sent);

  OperationFixture g("W25X80");
  g.programmer.AddLinkFault(fault);
  g.state.command_code = kTestCommand;
  EXPECT_EQ(ChipTest(g.ctx), kNoProgrammer);
  EXPECT_EQ(g.host.LastStatus().text, "device cannot open!");
  EXPECT_EQ(g.host.BoxTexts(), std::vector<std::string>{"device cannot open!    "});
}

TEST(ChipRecognition, IdReplyThatNeverComes) {
  OperationFixture f("W25X80");
  f.programmer.DropReply(sim::ReplyKind::kChipId);
  EXPECT_EQ(ChipRecognition(f.ctx, true), kNoChip);
  EXPECT_EQ(f.host.LastStatus().text, "device connected,not find chip");
  EXPECT_TRUE(f.host.LastStatus().red);
  EXPECT_EQ(f.traffic.CountCommand(command_code::kReadChipId), 1u);
  EXPECT_GE(f.clock.NowMs(), 5000);  // the read waited its whole time-out

  OperationFixture g("W25X80");
  g.programmer.DropReply(sim::ReplyKind::kChipId);
  g.state.command_code = kTestCommand;
  EXPECT_EQ(ChipTest(g.ctx), kNoChip);
  EXPECT_EQ(g.host.LastStatus().text, "device connected,not find chip!");
  const auto boxes = g.host.RecordsOf(Kind::kMessageBox);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "device connected,not find chip!      ");
  EXPECT_EQ(boxes[0].icon, BoxIcon::kInformation);
}

TEST(ChipRecognition, UnpluggedDuringTheProbes) {
  OperationFixture f("");
  // Between the link check (about 110 ms) and the last probe (about 360 ms).
  f.bus.At(200, [](sim::SimBus& bus) { bus.Unplug(); });
  EXPECT_EQ(ChipRecognition(f.ctx, true), kNoProgrammer);
  EXPECT_EQ(f.host.LastStatus().text, "device cannot open");
  EXPECT_LT(f.traffic.CountCommand(command_code::kReadChipId), 11u);
}

}  // namespace
}  // namespace tarvix::testing
