// SPDX-License-Identifier: GPL-3.0-or-later
// A bulk run of 20 chips on the simulated programmer with serial-number stamping, the
// production log and the chip-data checks: one chip was not blank and fails its
// verify. Every chip's bytes, the image left as it was, the log and the counter; and
// the checksums a read takes on the way.
#include "production/production_chip.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "operations/auto_sequence.h"
#include "operations/operation_fixture.h"
#include "operations/read.h"
#include "production/chip_data_checks.h"

namespace tarvix::testing {
namespace {

TEST(ProductionRunTest, TwentyChipsStampedOneFailureEveryChipsBytesAndTheLog) {
  OperationFixture f("W25Q32BV");
  ASSERT_TRUE(f.Select("W25Q32BV"));
  ASSERT_TRUE(f.link.OpenSequence());
  constexpr std::uint64_t kImageSize = 4096;
  const auto file = f.WriteImageFile("fw.bin", kImageSize);
  ASSERT_TRUE(f.LoadImage(file));
  const std::vector<std::uint8_t> image = f.ImageBytes(0, kImageSize);
  // Write and verify only, as a line does with chips that come blank.
  f.state.bulk_mode = 1;
  f.state.command_code = 14;
  f.SetSetting(SettingItem::kBulkErase, false);

  std::string error;
  auto db = LogDatabase::Open(f.scratch.path / "production.db", &error);
  ASSERT_TRUE(db) << error;
  ProductionJob job;
  job.lot = "L-0042";
  job.image_name = "fw.bin";
  job.image_sums = ChecksumsOf(image);
  SerialSettings serial;
  serial.address = kImageSize + 2;  // past the image: SPI FLASH gets it sent all the same
  serial.encoding = SerialEncoding::kBcd;
  serial.width = 3;
  serial.little_endian = true;
  serial.start = 99'990;
  serial.step = 5;
  job.serial = serial;
  ProductionRun run(db.get(), job, f.clock);
  ASSERT_TRUE(run.Start(f.state.chip_capacity.load(), &error)) << error;

  constexpr int kBadChip = 7;
  for (int chip = 1; chip <= 20; ++chip) {
    f.PutChip("W25Q32BV");
    // Not blank where the image has set bits: programming cannot set them again.
    if (chip == kBadChip) f.FillChip(0x100, std::vector<std::uint8_t>(8, 0x00));
    DiffList diff(100);
    ChipDataChecks checks(&diff);
    f.ctx.chip_data_tap = &checks;
    const ChipOutcome outcome = RunProductionChip(
        f.ctx, run, {"123456", "W25Q32BV", "EF4016"}, [&] { return AutoSequence(f.ctx); },
        [&] { return f.LastStatusText(); }, &error);
    f.ctx.chip_data_tap = nullptr;
    ASSERT_NE(outcome, ChipOutcome::kRunStopped) << error;
    EXPECT_EQ(outcome, chip == kBadChip ? ChipOutcome::kFailed : ChipOutcome::kPassed) << chip;
    EXPECT_EQ(f.ctx.source, nullptr) << "the stamped image outlived its chip";

    // The chip holds the image, 0xFF up to the field, and its own number in BCD,
    // least significant pair first; only the bad chip differs, where it was not blank.
    const std::uint64_t value = 99'990 + 5 * static_cast<std::uint64_t>(chip - 1);
    std::vector<std::uint8_t> expected = image;
    expected.insert(expected.end(), {0xFF, 0xFF});
    expected.push_back(static_cast<std::uint8_t>((value / 10 % 10) << 4 | value % 10));
    expected.push_back(static_cast<std::uint8_t>((value / 1000 % 10) << 4 | value / 100 % 10));
    expected.push_back(
        static_cast<std::uint8_t>(value / 10000 % 100 / 10 << 4 | value / 10000 % 10));
    expected.push_back(0xFF);
    std::vector<std::uint8_t> chip_bytes = f.ChipMemory(0, expected.size());
    if (chip == kBadChip) {
      for (std::size_t i = 0x100; i < 0x108; ++i) expected[i] = 0x00;
      ASSERT_EQ(diff.Ranges().size(), 1u);
      EXPECT_EQ(diff.Ranges()[0].address, 0x100u);
      EXPECT_EQ(diff.Ranges()[0].length, 8u);
      EXPECT_EQ(diff.Ranges()[0].file[0], image[0x100]);
      EXPECT_EQ(diff.Ranges()[0].chip[0], 0x00);
    } else {
      EXPECT_TRUE(diff.Ranges().empty());
      // The verify's own pass summed the chip as it is to hold it.
      std::vector<std::uint8_t> whole = f.ChipMemory(0, f.state.chip_capacity.load());
      EXPECT_EQ(checks.ChipSums(), ChecksumsOf(whole)) << chip;
    }
    EXPECT_EQ(chip_bytes, expected) << "chip " << chip;
  }
  // The image and the user's file are as loaded.
  EXPECT_EQ(f.image.Size(), kImageSize);
  EXPECT_EQ(f.ImageBytes(0, kImageSize + 8), image);
  std::ifstream user_file(file, std::ios::binary);
  EXPECT_EQ(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(user_file), {}), image);

  // The log: 20 entries in order, numbers without gaps, the bad chip failed with the
  // verify's text and its number spoiled, never to come again.
  ProductionLog log(*db);
  SerialCounter counter(*db);
  int entries = 0;
  ASSERT_TRUE(log.Query(
      {"L-0042", ""},
      [&](const ChipLogEntry& e) {
        ++entries;
        const std::uint64_t value = 99'990 + 5 * static_cast<std::uint64_t>(entries - 1);
        EXPECT_EQ(e.serial, value);
        EXPECT_EQ(e.passed, entries != kBadChip);
        EXPECT_EQ(counter.StateOf(value, &error), entries != kBadChip ? "used" : "spoiled");
        EXPECT_EQ(e.result_text, entries != kBadChip ? "Auto Write Verify finished,0:0"
                                                     : "verify finished.8 error(s)! 0:0");
        EXPECT_EQ(e.image_crc32, job.image_sums.Crc32Text());
        EXPECT_EQ(e.image_sha256, job.image_sums.Sha256Text());
        EXPECT_EQ(e.chip_model, "W25Q32BV");
        EXPECT_EQ(e.programmer, "123456");
        return true;
      },
      &error))
      << error;
  EXPECT_EQ(entries, 20);
  EXPECT_EQ(*counter.Next(&error), 99'990u + 5 * 20);

  // A read of the last chip sums its data on the way in.
  ChipDataChecks read_checks;
  f.ctx.chip_data_tap = &read_checks;
  f.state.command_code = 13;
  ASSERT_TRUE(ReadChip(f.ctx));
  EXPECT_EQ(read_checks.ChipSums(), ChecksumsOf(f.ChipMemory(0, f.state.chip_capacity.load())));
}

}  // namespace
}  // namespace tarvix::testing
