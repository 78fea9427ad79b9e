// SPDX-License-Identifier: GPL-3.0-or-later
// The chip selection's view of the programmer's command packet, so the catalogue
// floor need not know the device floor above it.
#pragma once

#include <cstdint>
#include <string>

namespace tarvix {

class ChipCatalogue;

// Where the current chip's parameters go: the programmer's command packet, which
// lives a floor up and fills itself from the record.
class ChipParameterSink {
 public:
  virtual ~ChipParameterSink() = default;
  // Takes record `index`'s parameters; false (changing nothing) for an invalid index.
  virtual bool LoadChipParameters(const ChipCatalogue& catalogue, std::int64_t index,
                                  std::uint32_t* capacity_out) = 0;
  // The parameters as the chip details box shows them.
  [[nodiscard]] virtual std::string DetailsText() const = 0;
};

}  // namespace tarvix
