// SPDX-License-Identifier: GPL-3.0-or-later
// A chip in the simulated programmer's socket: its family, size, organisation, IDs
// and contents, with the rules the real parts follow (SPI FLASH programming can only
// clear bits, erase sets every byte to 0xFF; EEPROM writes store the bytes).
//
// Contents cost nothing until written: memory is paged in 64 KiB pages that appear
// on the first write, unwritten bytes read 0xFF. Alternatively the contents live in
// an image file (read and written in place), so a chip keeps them between runs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/chip_record.h"
#include "catalogue/operation_type.h"

namespace tarvix::sim {

struct ChipDescription {
  std::string model;
  ChipFamily family = ChipFamily::kSpiFlash;
  std::uint64_t capacity = 0;      // bytes
  bool word_organisation = false;  // counted in 16-bit words (93-series x16)
  std::uint32_t main_id = 0;       // 24-bit ID as the recognition probe returns it
  std::uint32_t secondary_id = 0;
  std::uint32_t page_size = 0;    // bytes per program page, 0 when the record has none
  std::uint32_t sector_size = 0;  // bytes per erase sector, 0 when the record has none
};

// Time the part needs, in microseconds, for the realistic timing mode.
struct ChipSpeed {
  double read_us_per_byte = 0;
  double program_us_per_byte = 0;
  std::int64_t chip_erase_ms = 0;
  std::int64_t sector_erase_ms = 0;  // one erase sector (SPI FLASH), per rewritten block
};

class VirtualChip {
 public:
  explicit VirtualChip(ChipDescription description);
  ~VirtualChip();
  VirtualChip(const VirtualChip&) = delete;
  VirtualChip& operator=(const VirtualChip&) = delete;

  // The part a catalogue record describes; nothing (and the reason) when the record
  // names no family or no capacity.
  [[nodiscard]] static std::optional<ChipDescription> Describe(const ChipRecord& record,
                                                               std::string* error = nullptr);
  [[nodiscard]] static std::unique_ptr<VirtualChip> FromRecord(const ChipRecord& record,
                                                               std::string* error = nullptr);

  // Keeps the contents in `path`: created and erased to 0xFF when absent; an
  // existing file keeps its bytes (a short one is extended with 0xFF). Whatever was
  // in memory before is dropped. False (with the reason) when the file cannot be used.
  [[nodiscard]] bool UseImageFile(const std::filesystem::path& path, std::string* error = nullptr);
  [[nodiscard]] bool IsFileBacked() const { return fd_ >= 0; }

  [[nodiscard]] const ChipDescription& description() const { return description_; }
  [[nodiscard]] ChipFamily family() const { return description_.family; }
  [[nodiscard]] std::uint64_t capacity() const { return description_.capacity; }
  [[nodiscard]] bool word_organisation() const { return description_.word_organisation; }
  [[nodiscard]] ChipSpeed Speed() const;

  // Bytes at or past the capacity read 0xFF.
  void Read(std::uint64_t address, std::uint8_t* out, std::size_t count) const;
  [[nodiscard]] std::uint8_t ReadByte(std::uint64_t address) const;
  [[nodiscard]] std::vector<std::uint8_t> ReadRange(std::uint64_t address, std::size_t count) const;

  // Programs bytes by the family's rule; bytes at or past the capacity are dropped.
  void Program(std::uint64_t address, const std::uint8_t* data, std::size_t count);
  // Stores bytes as they are, whatever the family (for setting up a test chip).
  void Load(std::uint64_t address, const std::uint8_t* data, std::size_t count);
  void EraseAll();
  void EraseRange(std::uint64_t address, std::uint64_t count);

  // Address of the first byte below `limit` that is not 0xFF.
  [[nodiscard]] std::optional<std::uint64_t> FirstNonBlank(std::uint64_t limit) const;

  // Memory actually held for the contents (0 for an unwritten or file-backed chip).
  [[nodiscard]] std::uint64_t ResidentBytes() const;

 private:
  static constexpr unsigned kPageBits = 16;
  static constexpr std::uint64_t kPageSize = std::uint64_t{1} << kPageBits;

  void Write(std::uint64_t address, const std::uint8_t* data, std::size_t count, bool clear_only);
  void FillRange(std::uint64_t address, std::uint64_t count, std::uint8_t value);

  ChipDescription description_;
  std::vector<std::unique_ptr<std::uint8_t[]>> pages_;
  int fd_ = -1;
};

}  // namespace tarvix::sim
