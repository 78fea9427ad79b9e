// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/chip_catalogue.h"

#include <cstdio>
#include <fstream>

#include "catalogue/database_codec.h"
#include "catalogue/memory_block.h"

namespace tarvix {
namespace {

constexpr std::string_view kWarningTitle = "warning";

// An unused slot: fields of 31 blanks, voltage empty, internal number 0.
ChipRecord EmptySlot() {
  const std::string blanks(31, ' ');
  ChipRecord r;
  r.type = r.manufacturer = r.model = r.page_size = r.sector_size = r.capacity = blanks;
  r.main_address = r.slave_address = r.main_id = r.secondary_id = r.operation_type = blanks;
  r.voltage.clear();
  r.internal_number = 0;
  return r;
}

}  // namespace

ChipCatalogue::ChipCatalogue() {
  Clear();
}

void ChipCatalogue::Clear() {
  records_.fill(EmptySlot());
  count_ = 0;
}

std::uint32_t ChipCatalogue::Load(const std::filesystem::path& database, const Reporter& report) {
  MemoryBlock block([&](std::string_view message) { report(message, "警告"); });
  std::uint32_t loaded = 0;
  {
    std::error_code ec;
    // Only a file is opened: a pipe of that name would hold the start-up forever.
    const bool regular = std::filesystem::is_regular_file(database, ec);
    std::ifstream in;
    if (regular) in.open(database, std::ios::binary);
    const auto length = regular ? std::filesystem::file_size(database, ec) : 0;
    if (!regular || !in || ec) {
      report(kCannotOpenMessage, "提示");
    } else if (length > kDatabaseLargest) {
      // Far larger than any chip database: not worth the memory it would take.
      report(database.string() + " is " + std::to_string(length) +
                 " bytes, larger than any chip database; it was not loaded ",
             kWarningTitle);
    } else if (block.Create(static_cast<std::uint32_t>(length)) == nullptr) {
      report("not enough memory to load the chip database ", kWarningTitle);
    } else {
      in.read(reinterpret_cast<char*>(block.Data()), static_cast<std::streamsize>(length));
      // A file that shrank while being read keeps only what arrived.
      loaded = static_cast<std::uint32_t>(in.gcount());
    }
  }
  if (!block.Created()) {
    Clear();
    return 0;
  }
  std::span<std::uint8_t> bytes(block.Data(), loaded);
  UnscrambleInPlace(bytes);
  Parse(bytes, report, database.string());
  block.Release();
  return count_;
}

bool ChipCatalogue::Parse(std::span<const std::uint8_t> text, const Reporter& report,
                          std::string_view source_name) {
  const std::string name(source_name);
  Clear();
  std::string current_type;
  std::string current_manufacturer;
  std::size_t line_number = 0;
  std::size_t start = 0;
  bool warned_full = false;
  for (std::size_t pos = 0; pos < text.size(); ++pos) {
    if (text[pos] != '\n') continue;
    ++line_number;
    const std::size_t length = pos - start;  // the line without its line feed
    if (length >= kMaxLineLength) {
      Clear();
      report(name + " line " + std::to_string(line_number) + " is " + std::to_string(length) +
                 " bytes long (the limit is 999); the chip database was not loaded ",
             kWarningTitle);
      return false;
    }
    // The last byte of every line (its carriage return) is dropped.
    std::string_view line(reinterpret_cast<const char*>(text.data()) + start,
                          length == 0 ? 0 : length - 1);
    start = pos + 1;
    if (line.empty()) continue;
    switch (line[0]) {
      case '$':
        current_type.assign(line.substr(1));
        break;
      case '#':
        current_manufacturer.assign(line.size() >= 2 ? line.substr(1, line.size() - 2) : "");
        break;
      case '@': {
        std::array<std::string_view, 10> fields;
        std::string_view rest = line.substr(1);
        for (int f = 0; f < 9; ++f) {
          const auto colon = rest.find(':');
          if (colon == std::string_view::npos) {
            Clear();
            report(name + " line " + std::to_string(line_number) +
                       ": a chip line needs nine \":\" separators, this one has " +
                       std::to_string(f) + "; the chip database was not loaded ",
                   kWarningTitle);
            return false;
          }
          fields[f] = rest.substr(0, colon);
          rest.remove_prefix(colon + 1);
        }
        fields[9] = rest;
        if (count_ >= kCapacity) {
          if (!warned_full) {
            report(name + " line " + std::to_string(line_number) +
                       ": the catalogue holds 600 chips; this chip and those after it "
                       "were not loaded ",
                   kWarningTitle);
            warned_full = true;
          }
          break;
        }
        ChipRecord& r = records_[count_];
        r.type = current_type;
        r.manufacturer = current_manufacturer;
        r.model = fields[0];
        r.page_size = fields[1];
        r.sector_size = fields[2];
        r.capacity = fields[3];
        r.main_address = fields[4];
        r.slave_address = fields[5];
        r.main_id = fields[6];
        r.secondary_id = fields[7];
        r.voltage = fields[8];
        r.operation_type = fields[9];
        r.internal_number = static_cast<std::int32_t>(count_);
        ++count_;
        break;
      }
      default:
        break;
    }
  }
  // A last line without its line feed is not read; a file cut short ends that way.
  for (std::size_t pos = start; pos < text.size(); ++pos) {
    if (text[pos] != ' ' && text[pos] != '\t' && text[pos] != '\r') {
      report(name + " ends inside line " + std::to_string(line_number + 1) +
                 ", which was not read; the file may be cut short. " + std::to_string(count_) +
                 " chips were loaded ",
             kWarningTitle);
      break;
    }
  }
  return true;
}

std::vector<std::string> ChipCatalogue::TypeList() const {
  std::vector<std::string> out;
  std::string_view previous = "1";
  for (std::uint32_t i = 0; i < count_; ++i) {
    if (records_[i].type != previous) out.push_back(records_[i].type);
    previous = records_[i].type;
  }
  return out;
}

std::vector<std::string> ChipCatalogue::ManufacturerList(std::string_view type) const {
  std::vector<std::string> out;
  std::string_view previous = "1";
  for (std::uint32_t i = 0; i < count_; ++i) {
    if (records_[i].type != type) continue;
    if (records_[i].manufacturer != previous) out.push_back(records_[i].manufacturer);
    previous = records_[i].manufacturer;
  }
  return out;
}

std::vector<std::string> ChipCatalogue::ModelList(std::string_view type,
                                                  std::string_view manufacturer) const {
  std::vector<std::string> out;
  for (std::uint32_t i = 0; i < count_; ++i) {
    if (records_[i].type == type && records_[i].manufacturer == manufacturer)
      out.push_back(records_[i].model);
  }
  return out;
}

std::string ChipCatalogue::IdText(std::uint32_t id) {
  char text[16];
  std::snprintf(text, sizeof text, "%06X", id & 0xFFFFFFu);
  return text;
}

std::vector<std::int32_t> ChipCatalogue::RecordsByMainId(std::uint32_t id) const {
  const std::string text = IdText(id);
  std::vector<std::int32_t> out;
  for (std::uint32_t i = 0; i < count_; ++i)
    if (records_[i].main_id == text) out.push_back(records_[i].internal_number);
  return out;
}

std::vector<std::int32_t> ChipCatalogue::RecordsBySecondaryId(std::uint32_t id) const {
  const std::string text = IdText(id);
  std::vector<std::int32_t> out;
  for (std::uint32_t i = 0; i < count_; ++i)
    if (records_[i].secondary_id == text) out.push_back(records_[i].internal_number);
  return out;
}

std::vector<std::int32_t> ChipCatalogue::RecordsByName(std::string_view type,
                                                       std::string_view manufacturer,
                                                       std::string_view model) const {
  std::vector<std::int32_t> out;
  for (std::uint32_t i = 0; i < count_; ++i) {
    const ChipRecord& r = records_[i];
    if (r.type == type && r.manufacturer == manufacturer && r.model == model)
      out.push_back(r.internal_number);
  }
  return out;
}

}  // namespace tarvix
