// SPDX-License-Identifier: GPL-3.0-or-later
// The programmer's replies to every command code, driven with raw packets.
#include "sim/virtual_programmer.h"

#include <gtest/gtest.h>

#include "sim_test_support.h"

namespace tarvix::sim {
namespace {

using testing::Bytes;
using testing::SimFixture;

class ProgrammerTest : public SimFixture {};

TEST_F(ProgrammerTest, IdentityAndVersionReplies) {
  programmer->SetSerial(130042);
  programmer->SetFirmwareVersion(0x1F);
  Open();
  ASSERT_EQ(Send(22), 20);
  const Bytes id = Read(64);
  ASSERT_EQ(id.size(), 7u);
  EXPECT_EQ((Bytes{id[4], id[5], id[6]}), (Bytes{0x01, 0xFB, 0xFA}));  // 130042 big-endian
  ASSERT_EQ(Send(18), 20);
  EXPECT_EQ(Read(64), (Bytes{0x1F}));
  EXPECT_EQ(programmer->CommandCount(22), 1u);
}

// The probes of chip recognition: byte 2 = family, byte 3 = variant.
Bytes Probe(SimFixture& f, std::uint8_t byte2, std::uint8_t byte3, bool volts) {
  f.packet.SetProbeHeader(volts, byte2, byte3);
  EXPECT_EQ(f.Send(0), 20);
  EXPECT_EQ(f.Send(7), 20);
  return f.Read(3);
}

TEST_F(ProgrammerTest, ChipIdAnswersFollowTheProbeTable) {
  const Bytes nothing{0xFF, 0xFF, 0xFF};
  struct Case {
    std::optional<ChipDescription> chip;
    Bytes spi, e24, e25, e93;
  };
  const Case cases[] = {
      {testing::SpiFlash(1 << 20, 0xEF4018), {0xEF, 0x40, 0x18}, nothing, nothing, nothing},
      {testing::Eeprom(ChipFamily::kEeprom24, 256), nothing, {0, 0, 1}, nothing, nothing},
      {testing::Eeprom(ChipFamily::kEeprom25, 512), nothing, nothing, {0, 0, 2}, nothing},
      {testing::Eeprom(ChipFamily::kEeprom93, 128, true), nothing, nothing, nothing, {0, 0, 3}},
      {std::nullopt, nothing, nothing, nothing, nothing},
  };
  Open();
  for (const Case& c : cases) {
    if (c.chip) {
      Insert(*c.chip);
    } else {
      programmer->RemoveChip();
    }
    for (const std::uint8_t variant : {0x00, 0x20, 0x60, 0x70, 0x80})
      EXPECT_EQ(Probe(*this, 0x00, variant, false), c.spi) << "SPI probe " << int(variant);
    EXPECT_EQ(Probe(*this, 0x01, 0x00, true), c.e24);
    EXPECT_EQ(Probe(*this, 0x02, 0x00, true), c.e25);
    for (const std::uint8_t variant : {0x00, 0x10, 0x01, 0x11})
      EXPECT_EQ(Probe(*this, 0x03, variant, true), c.e93);
  }
  EXPECT_EQ(programmer->PendingReplyBytes(), 0u);
}

TEST_F(ProgrammerTest, WriteStreamProgramsTheChipAndEndsWithTheEndMark) {
  VirtualChip& chip = Insert(testing::SpiFlash(8192));
  const std::uint8_t old[2] = {0x0F, 0x0F};
  chip.Load(0, old, 2);
  Open();
  ASSERT_EQ(Send(1, {}, 5000), 20);
  Bytes data(5000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  data[0] = 0xF3;
  data[1] = 0xFF;
  EXPECT_EQ(Write(Bytes(data.begin(), data.begin() + 4096)), 4096);
  EXPECT_EQ(Write(Bytes(data.begin() + 4096, data.end())), 904);
  ASSERT_EQ(Send32(2, 5000, 1000), 20);
  EXPECT_EQ(Read(1, 6000), (Bytes{kEndMark}));
  EXPECT_EQ(chip.ReadByte(0), 0x03);  // flash: old & new
  EXPECT_EQ(chip.ReadByte(1), 0x0F);
  EXPECT_EQ(chip.ReadRange(2, 4998), Bytes(data.begin() + 2, data.end()));
  EXPECT_EQ(chip.ReadByte(5000), 0xFF);
  ASSERT_EQ(Send(9), 20);
}

TEST_F(ProgrammerTest, BulkDataNobodyExpectsIsNeverTaken) {
  Insert(testing::Eeprom(ChipFamily::kEeprom24, 256));
  Open();
  const std::int64_t t0 = clock.NowMs();
  EXPECT_EQ(Write(Bytes(16, 0)), kResultTimeout);  // no code 1 yet
  EXPECT_EQ(clock.NowMs() - t0, 60000);
  ASSERT_EQ(Send(1), 20);
  EXPECT_EQ(Write(Bytes(300, 0x11)), 256);  // up to the capacity, not beyond
  EXPECT_EQ(Write(Bytes(1, 0x11), 100), kResultTimeout);
  ASSERT_EQ(Send32(2, 256), 20);
  EXPECT_EQ(Read(1), (Bytes{kEndMark}));
  EXPECT_EQ(programmer->chip()->ReadByte(255), 0x11);
  EXPECT_EQ(Write(Bytes(1, 0x11), 100), kResultTimeout);  // code 2 ended the stream
}

TEST_F(ProgrammerTest, ReadAndVerifyStreamTheChipInAddressOrder) {
  VirtualChip& chip = Insert(testing::SpiFlash(20000));
  Bytes pattern(20000);
  for (std::size_t i = 0; i < pattern.size(); ++i)
    pattern[i] = static_cast<std::uint8_t>(i ^ (i >> 8));
  chip.Load(0, pattern.data(), pattern.size());
  Open();
  ASSERT_EQ(Send(13, {}, 5000), 20);
  EXPECT_EQ(ReadStream(20000), pattern);
  int r = 0;
  Read(64, 10, &r);
  EXPECT_EQ(r, kResultTimeout);  // exactly the capacity, nothing after it

  // Verify streams the count its payload names.
  ASSERT_EQ(Send32(8, 12000, 5000), 20);
  EXPECT_EQ(ReadStream(12000), Bytes(pattern.begin(), pattern.begin() + 12000));
  EXPECT_EQ(programmer->PendingReplyBytes(), 0u);
}

TEST_F(ProgrammerTest, CodeNineStopsAStreamButLeavesShortRepliesToDrain) {
  Insert(testing::SpiFlash(1 << 20));
  Open();
  ASSERT_EQ(Send(18), 20);  // a version byte the host never read
  ASSERT_EQ(Send(13), 20);
  ASSERT_EQ(Send(9), 20);
  EXPECT_EQ(programmer->PendingReplyBytes(), 1u);
  EXPECT_EQ(Read(64, 10), (Bytes{0x12}));
  int r = 0;
  Read(64, 10, &r);
  EXPECT_EQ(r, kResultTimeout);
}

TEST_F(ProgrammerTest, EraseClearsTheChipAndAnswersDone) {
  VirtualChip& chip = Insert(testing::SpiFlash(1 << 20));
  const std::uint8_t zero[1] = {0};
  chip.Load(12345, zero, 1);
  Open();
  ASSERT_EQ(Send(5, {}, 1000), 20);
  EXPECT_EQ(Read(1, 1000), (Bytes{kEraseDone}));
  EXPECT_FALSE(chip.FirstNonBlank(chip.capacity()));
}

TEST_F(ProgrammerTest, RealisticEraseMakesTheHostWaitThroughSeveralTimeOuts) {
  bus.SetTiming(Timing::kRealistic);
  VirtualChip& chip = Insert(testing::SpiFlash(16 << 20));
  Open();
  const std::int64_t t0 = clock.NowMs();
  ASSERT_EQ(Send(5, {}, 1000), 20);
  int timeouts = 0;
  Bytes got;
  for (int i = 0; i < 601 && got.empty(); ++i) {
    int r = 0;
    got = Read(1, 1000, &r);
    if (r < 0) ++timeouts;
  }
  EXPECT_EQ(got, (Bytes{kEraseDone}));
  const std::int64_t elapsed = clock.NowMs() - t0;
  EXPECT_NEAR(elapsed, chip.Speed().chip_erase_ms, 2);
  EXPECT_GE(timeouts, 30);
}

TEST_F(ProgrammerTest, BlankCheckReplyNamesTheFirstProgrammedByte) {
  VirtualChip& chip = Insert(testing::SpiFlash(1 << 20));
  Open();
  ASSERT_EQ(Send(15, {}, 1000), 20);
  EXPECT_EQ(Read(64, 1000), (Bytes{kChipBlank, 0, 0, 0, 0, 0xFF}));
  const std::uint8_t data[2] = {0x5A, 0x00};
  chip.Load(0x1234, data, 2);
  chip.Load(0x9000, data + 1, 1);
  ASSERT_EQ(Send(15, {}, 1000), 20);
  EXPECT_EQ(Read(64, 1000), (Bytes{kChipNotBlank, 0x00, 0x00, 0x12, 0x34, 0x5A}));
  // Only the capacity the packet names is checked.
  auto p = testing::ParametersFor(chip.description());
  p.capacity = 0x1000;
  SetParameters(p);
  ASSERT_EQ(Send(15, {}, 1000), 20);
  EXPECT_EQ(Read(64, 1000)[0], kChipBlank);
}

TEST_F(ProgrammerTest, ReadAtAddressGivesTwoBytesAndWholeWordsInWordOrganisation) {
  VirtualChip& chip = Insert(testing::Eeprom(ChipFamily::kEeprom24, 256));
  const std::uint8_t data[4] = {0x11, 0x22, 0x33, 0x44};
  chip.Load(0x20, data, 4);
  Open();
  ASSERT_EQ(Send32(17, 0x21), 20);
  EXPECT_EQ(Read(2), (Bytes{0x22, 0x33}));
  ASSERT_EQ(Send32(17, 0x1000), 20);  // past the chip
  EXPECT_EQ(Read(2), (Bytes{0xFF, 0xFF}));

  VirtualChip& words = Insert(testing::Eeprom(ChipFamily::kEeprom93, 128, true));
  words.Load(0x20, data, 4);
  ASSERT_EQ(Send32(17, 0x22), 20);
  EXPECT_EQ(Read(2), (Bytes{0x33, 0x44}));
  ASSERT_EQ(Send32(17, 0x23), 20);  // an odd byte address still means its whole word
  EXPECT_EQ(Read(2), (Bytes{0x33, 0x44}));
}

TEST_F(ProgrammerTest, WordOrganisedWritesStoreWholeWordsOnly) {
  VirtualChip& chip = Insert(testing::Eeprom(ChipFamily::kEeprom93, 128, true));
  Open();
  ASSERT_EQ(Send(1), 20);
  EXPECT_EQ(Write(Bytes{1, 2, 3}), 3);  // the third byte waits for its partner
  EXPECT_EQ(chip.ReadRange(0, 4), (Bytes{1, 2, 0xFF, 0xFF}));
  EXPECT_EQ(Write(Bytes{4, 5}), 2);
  EXPECT_EQ(chip.ReadRange(0, 5), (Bytes{1, 2, 3, 4, 0xFF}));
  ASSERT_EQ(Send32(2, 5), 20);  // the odd last byte is never written
  EXPECT_EQ(Read(1), (Bytes{kEndMark}));
  EXPECT_EQ(chip.ReadByte(4), 0xFF);
}

TEST_F(ProgrammerTest, ParametersOfAnotherFamilyReachNothingInTheSocket) {
  VirtualChip& chip = Insert(testing::SpiFlash(4096));
  const std::uint8_t data[1] = {0x42};
  chip.Load(0, data, 1);
  SetParameters(testing::ParametersFor(testing::Eeprom(ChipFamily::kEeprom24, 4096)));
  Open();
  ASSERT_EQ(Send(13), 20);
  EXPECT_EQ(ReadStream(4096), Bytes(4096, 0xFF));
  ASSERT_EQ(Send(1), 20);
  EXPECT_EQ(Write(Bytes(16, 0x00)), 16);
  ASSERT_EQ(Send32(2, 16), 20);
  EXPECT_EQ(Read(1), (Bytes{kEndMark}));
  ASSERT_EQ(Send(5), 20);
  EXPECT_EQ(Read(1), (Bytes{kEraseDone}));
  EXPECT_EQ(chip.ReadByte(0), 0x42);
}

TEST_F(ProgrammerTest, ParameterCodesStoreAndReset) {
  Insert(testing::Eeprom(ChipFamily::kEeprom25, 512));
  Open();
  EXPECT_FALSE(programmer->StoredParameters());
  ASSERT_EQ(Send(0, {}, 1000), 20);
  ASSERT_TRUE(programmer->StoredParameters());
  EXPECT_EQ(programmer->StoredParameters()->capacity, 512u);
  EXPECT_EQ(programmer->StoredParameters()->operation_type_high, 2);
  ASSERT_EQ(Send(25, {}, 1000), 20);
  EXPECT_FALSE(programmer->StoredParameters());
  // Unknown codes and malformed packets are ignored without a reply.
  ASSERT_EQ(Send(40), 20);
  const std::uint8_t bad[20] = {0x00, 18};
  EXPECT_EQ(usb.InterruptWrite(handle, kCommandEndpoint, bad, 20, 100), 20);
  EXPECT_EQ(programmer->PendingReplyBytes(), 0u);
  EXPECT_LT(usb.InterruptWrite(handle, 5, bad, 20, 100), 0);  // no such endpoint
}

// One block of the chip fill exchange, as the host runs it.
TEST_F(ProgrammerTest, FillBlockExchangeRewritesTheMergedBlock) {
  VirtualChip& chip = Insert(testing::Eeprom(ChipFamily::kEeprom24, 1024, false, 16));
  Bytes before(1024);
  for (std::size_t i = 0; i < before.size(); ++i) before[i] = static_cast<std::uint8_t>(i);
  chip.Load(0, before.data(), before.size());
  Open();
  // Page code 4 (16 bytes), no sector: blocks of 16 bytes.
  ASSERT_EQ(Send32(19, 0x30, 5000), 20);
  Bytes block = Read(16, 5000);
  EXPECT_EQ(block, Bytes(before.begin() + 0x30, before.begin() + 0x40));
  EXPECT_EQ(Read(1, 50000), (Bytes{kFillBlockSent}));
  for (int i = 2; i < 6; ++i) block[i] = 0xAB;
  EXPECT_EQ(Write(Bytes(block.begin(), block.begin() + 10)), 10);  // in pieces
  EXPECT_EQ(Write(Bytes(block.begin() + 10, block.end())), 6);
  EXPECT_EQ(Write(Bytes(1, 0), 100), kResultTimeout);  // the block is full
  ASSERT_EQ(Send(2, {}, 5000), 20);
  EXPECT_EQ(Read(1, 60000), (Bytes{kEndMark}));
  Bytes expected = before;
  for (int i = 0x32; i < 0x36; ++i) expected[static_cast<std::size_t>(i)] = 0xAB;
  EXPECT_EQ(chip.ReadRange(0, 1024), expected);
}

TEST_F(ProgrammerTest, FillOnFlashErasesTheBlockSoBitsCanBeSetAgain) {
  VirtualChip& chip = Insert(testing::SpiFlash(1 << 16));
  const Bytes zeros(8, 0x00);
  chip.Load(0x100, zeros.data(), zeros.size());
  auto p = testing::ParametersFor(chip.description());
  p.sector_size_code = 2;  // 1 KB << 2: 4096-byte blocks
  SetParameters(p);
  Open();
  ASSERT_EQ(Send32(19, 0, 5000), 20);
  Bytes block;
  for (int i = 0; i < 4; ++i) {
    Bytes piece = Read(1024, 5000);
    ASSERT_EQ(piece.size(), 1024u);
    block.insert(block.end(), piece.begin(), piece.end());
  }
  EXPECT_EQ(Read(1, 50000), (Bytes{kFillBlockSent}));
  block[0x102] = 0xFF;  // a bit set back to 1 needs the erase
  block[0x103] = 0xCD;
  ASSERT_EQ(Write(block), 4096);
  ASSERT_EQ(Send(2, {}, 5000), 20);
  EXPECT_EQ(Read(1, 60000), (Bytes{kEndMark}));
  EXPECT_EQ(chip.ReadRange(0x100, 6), (Bytes{0, 0, 0xFF, 0xCD, 0, 0}));
  EXPECT_EQ(chip.ReadByte(0x1000), 0xFF);  // outside the block: untouched
}

// The ways a fill block exchange can break, as the host sees them.
TEST_F(ProgrammerTest, FillFaultKnobsBreakEachStepOfTheExchange) {
  VirtualChip& chip = Insert(testing::Eeprom(ChipFamily::kEeprom24, 256, false, 16));
  Open();
  int r = 0;
  // The block comes short: the second piece read finds only the status byte.
  programmer->TruncateReply(ReplyKind::kFillBlock, 10);
  ASSERT_EQ(Send32(19, 0, 5000), 20);
  EXPECT_EQ(Read(16, 5000).size(), 10u);
  EXPECT_EQ(Read(16, 5000), (Bytes{kFillBlockSent}));
  // No status byte after the block.
  programmer->DropReply(ReplyKind::kFillBlockStatus);
  ASSERT_EQ(Send32(19, 0, 5000), 20);
  EXPECT_EQ(Read(16, 5000).size(), 16u);
  Read(1, 50000, &r);
  EXPECT_EQ(r, kResultTimeout);
  // The merged block is not taken.
  programmer->AddLinkFault({Pipe::kBulkOut, LinkFault::Action::kFail});
  EXPECT_EQ(Write(Bytes(16, 0x00)), kResultIoError);
  // No status byte after code 2: the block is written all the same.
  EXPECT_EQ(Write(Bytes(16, 0x00)), 16);
  programmer->DropReply(ReplyKind::kFillEnd);
  ASSERT_EQ(Send(2, {}, 5000), 20);
  Read(1, 60000, &r);
  EXPECT_EQ(r, kResultTimeout);
  EXPECT_EQ(chip.ReadByte(15), 0x00);
}

TEST_F(ProgrammerTest, FillWithoutABlockSizeDoesNothing) {
  auto d = testing::SpiFlash(1 << 16);
  Insert(d);
  auto p = testing::ParametersFor(d);
  p.sector_size_code = 0xFF;
  SetParameters(p);
  Open();
  ASSERT_EQ(Send32(19, 0, 5000), 20);
  EXPECT_EQ(programmer->PendingReplyBytes(), 0u);
  EXPECT_EQ(Write(Bytes(16, 0), 100), kResultTimeout);
}

TEST_F(ProgrammerTest, DfuModeAnswersTheReservedIdAndNothingElseOfTheChip) {
  ProgrammerConfig config;
  config.dfu_mode = true;
  config.serial = 42;
  VirtualProgrammer& loader = bus.AddProgrammer(config);
  loader.InsertChip(std::make_unique<VirtualChip>(testing::SpiFlash()));
  SetParameters(testing::ParametersFor(testing::SpiFlash()));
  Open(1);
  EXPECT_TRUE(loader.InDfuMode());
  ASSERT_EQ(Send(7, {}, 5000), 20);
  EXPECT_EQ(Read(3, 5000), (Bytes{0, 0, 4}));
  ASSERT_EQ(Send(22), 20);
  EXPECT_EQ(Read(7)[6], 42);
  ASSERT_EQ(Send(18), 20);
  EXPECT_EQ(Read(1), (Bytes{0xFF}));
  ASSERT_EQ(Send(13), 20);
  EXPECT_EQ(loader.PendingReplyBytes(), 0u);
}

TEST_F(ProgrammerTest, UpdateFramesMeanNothingToTheNormalFirmware) {
  Open();
  ASSERT_EQ(Frame(8), 4);
  ASSERT_EQ(Frame(13), 4);
  EXPECT_EQ(programmer->PendingReplyBytes(), 0u);
  EXPECT_EQ(programmer->FrameCount(8), 1u);
}

}  // namespace
}  // namespace tarvix::sim
