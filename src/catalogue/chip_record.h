// SPDX-License-Identifier: GPL-3.0-or-later
// One catalogue entry: twelve text fields as read from the database, and the
// record's own index in the table.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tarvix {

struct ChipRecord {
  std::string type;
  std::string manufacturer;
  std::string model;
  std::string page_size;
  std::string sector_size;
  std::string capacity;
  std::string main_address;
  std::string slave_address;
  std::string main_id;
  std::string secondary_id;
  std::string voltage;
  std::string operation_type;
  std::int32_t internal_number = 0;

  // The twelve text fields in file order (type, manufacturer, model, ... operation type).
  [[nodiscard]] std::array<const std::string*, 12> Fields() const {
    return {&type,         &manufacturer,  &model,   &page_size,    &sector_size, &capacity,
            &main_address, &slave_address, &main_id, &secondary_id, &voltage,     &operation_type};
  }
};

}  // namespace tarvix
