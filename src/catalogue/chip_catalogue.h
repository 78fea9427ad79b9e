// SPDX-License-Identifier: GPL-3.0-or-later
// The chip catalogue: up to 600 records parsed from the unscrambled database text,
// and the lookups the selection lists and chip recognition use.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/chip_record.h"

namespace tarvix {

class ChipCatalogue {
 public:
  static constexpr std::uint32_t kCapacity = 600;
  // A line (its carriage return included, its line feed not) is shorter than this.
  static constexpr std::size_t kMaxLineLength = 1000;
  // Limits of the selection lists the catalogue feeds.
  static constexpr std::size_t kMaxTypes = 5;
  static constexpr std::size_t kMaxManufacturers = 100;
  static constexpr std::size_t kMaxModels = 134;

  // Messages and warnings while loading: text and box title.
  using Reporter = std::function<void(std::string_view message, std::string_view title)>;

  static constexpr std::string_view kCannotOpenMessage = "文件无法打开！  ";

  ChipCatalogue();

  // Loads, unscrambles and parses a database file. On failure (after its message)
  // the catalogue stays empty. Returns the number of records stored.
  std::uint32_t Load(const std::filesystem::path& database, const Reporter& report);

  // Parses plain text. A file that breaks the format (a chip line without its nine
  // ":" separators, a line of 1000 bytes or more) is refused whole with a message
  // naming the line; chip lines past the 600th are ignored with a warning. Text after
  // the last line feed is ignored, with a warning that the file looks cut short and
  // how many chips were loaded. Messages name the file as `source_name`.
  // Returns false when refused (the catalogue is then empty).
  bool Parse(std::span<const std::uint8_t> text, const Reporter& report,
             std::string_view source_name = "database.dat");

  [[nodiscard]] std::uint32_t Count() const { return count_; }
  [[nodiscard]] const ChipRecord& Record(std::uint32_t index) const { return records_[index]; }
  [[nodiscard]] bool IsValidIndex(std::int64_t index) const {
    return index >= 0 && index < static_cast<std::int64_t>(count_);
  }

  // Distinct types in table order (a value repeats when its records are not contiguous).
  [[nodiscard]] std::vector<std::string> TypeList() const;
  [[nodiscard]] std::vector<std::string> ManufacturerList(std::string_view type) const;
  [[nodiscard]] std::vector<std::string> ModelList(std::string_view type,
                                                   std::string_view manufacturer) const;
  // Internal numbers of the records whose ID text equals `id` as six upper-case
  // hexadecimal digits.
  [[nodiscard]] std::vector<std::int32_t> RecordsByMainId(std::uint32_t id) const;
  [[nodiscard]] std::vector<std::int32_t> RecordsBySecondaryId(std::uint32_t id) const;
  [[nodiscard]] std::vector<std::int32_t> RecordsByName(std::string_view type,
                                                        std::string_view manufacturer,
                                                        std::string_view model) const;

  // A chip ID as the catalogue stores it: "%6X" with blanks as zeros.
  [[nodiscard]] static std::string IdText(std::uint32_t id);

 private:
  void Clear();

  std::array<ChipRecord, kCapacity> records_;
  std::uint32_t count_ = 0;
};

}  // namespace tarvix
