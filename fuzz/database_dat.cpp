// SPDX-License-Identifier: GPL-3.0-or-later
// database.dat as the program takes it in: checked, unscrambled in a memory block and
// parsed into the catalogue; then every record is made current as the lists do, which
// parses its numbers into the command packet.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/chip_catalogue.h"
#include "catalogue/chip_selection.h"
#include "catalogue/database_codec.h"
#include "catalogue/memory_block.h"
#include "device/command_packet.h"
#include "fuzz_input.h"
#include "state/main_state.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvix;
  const std::span<const std::uint8_t> stored(data, size);
  (void)DatabaseProblem(stored);  // "db unpack"'s judgement

  MemoryBlock block;
  if (block.Create(static_cast<std::uint32_t>(size)) == nullptr) return 0;
  for (std::uint32_t i = 0; i < size; ++i) FUZZ_CHECK(block.SetByte(i, data[i]) == 1);
  std::span<std::uint8_t> bytes(block.Data(), size);
  UnscrambleInPlace(bytes);

  static auto catalogue = std::make_unique<ChipCatalogue>();  // 600 records: made once
  const auto quiet = [](std::string_view, std::string_view) {};
  if (!catalogue->Parse(bytes, quiet)) FUZZ_CHECK(catalogue->Count() == 0);
  FUZZ_CHECK(catalogue->Count() <= ChipCatalogue::kCapacity);

  MainState state;
  CommandPacket packet;
  ChipSelection selection(*catalogue, packet, state);
  selection.Initialise();
  for (std::uint32_t i = 0; i < catalogue->Count(); ++i) {
    selection.SelectRecord(static_cast<std::int32_t>(i));
    (void)selection.DetailsText();
    // Recognition finds a record by the ID it stores.
    const std::string& id = catalogue->Record(i).main_id;
    const auto value = static_cast<std::uint32_t>(std::strtoul(id.c_str(), nullptr, 16));
    if (ChipCatalogue::IdText(value) == id) {
      const std::vector<std::int32_t> found = catalogue->RecordsByMainId(value);
      FUZZ_CHECK(std::find(found.begin(), found.end(), catalogue->Record(i).internal_number) !=
                 found.end());
    }
  }
  for (std::size_t t = 0; t < selection.Types().size(); ++t) {
    selection.ChooseType(t);
    for (std::size_t m = 0; m < selection.Manufacturers().size(); ++m) {
      selection.ChooseManufacturer(m);
      for (std::size_t c = 0; c < selection.Models().size(); ++c) selection.ChooseModel(c);
    }
  }

  // The input as a text for "db pack": what the writer stores reads back as the text
  // it stored, and stores again as the same bytes.
  const ScrambleResult packed = Scramble(stored);
  if (packed.error.empty()) {
    const std::vector<std::uint8_t> text = Unscramble(packed.bytes);
    const ScrambleResult again = Scramble(text);
    FUZZ_CHECK(again.error.empty() && again.bytes == packed.bytes);
  }
  return 0;
}
