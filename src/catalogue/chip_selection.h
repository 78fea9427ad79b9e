// SPDX-License-Identifier: GPL-3.0-or-later
// The three dependent lists (type, manufacturer, model), the current chip they
// select, its capacity label, chip picture and details text. The window mirrors
// this model; recognition drives it through SelectRecord.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "catalogue/chip_catalogue.h"
#include "catalogue/chip_parameter_sink.h"
#include "state/main_state.h"

namespace tarvix {

class ChipSelection {
 public:
  // What changed, so views refresh only what they show.
  enum class Change { kTypeList, kManufacturerList, kModelList, kCurrentChip, kPicture };
  using Listener = std::function<void(Change)>;

  ChipSelection(const ChipCatalogue& catalogue, ChipParameterSink& packet, MainState& state)
      : catalogue_(catalogue), packet_(packet), state_(state) {}

  // Start-up: fill all three lists and make the first record current.
  void Initialise();

  void FillTypeList();
  void FillManufacturerList(bool reset);
  void FillChipList(bool reset);
  void MakeCurrent();
  // Shows record `index` in all three lists and makes it current.
  void SelectRecord(std::int32_t index);

  // The user picked another entry (the list change notices).
  void ChooseType(std::size_t entry);
  void ChooseManufacturer(std::size_t entry);
  void ChooseModel(std::size_t entry);

  [[nodiscard]] const std::vector<std::string>& Types() const { return types_; }
  [[nodiscard]] const std::vector<std::string>& Manufacturers() const { return manufacturers_; }
  [[nodiscard]] const std::vector<std::string>& Models() const { return models_; }
  // Selected entries; -1 while a list is empty.
  [[nodiscard]] int TypeIndex() const { return type_index_; }
  [[nodiscard]] int ManufacturerIndex() const { return manufacturer_index_; }
  [[nodiscard]] int ModelIndex() const { return model_index_; }
  [[nodiscard]] std::string CurrentType() const { return Current(types_, type_index_); }
  [[nodiscard]] std::string CurrentManufacturer() const {
    return Current(manufacturers_, manufacturer_index_);
  }
  [[nodiscard]] std::string CurrentModel() const { return Current(models_, model_index_); }

  [[nodiscard]] const std::string& CapacityLabel() const { return capacity_label_; }
  // 1 to 6; 0 before a record with a known operation type was current.
  [[nodiscard]] int Picture() const { return picture_; }
  // The current record, or null when nothing is current.
  [[nodiscard]] const ChipRecord* CurrentRecord() const;
  // The text of the chip details box (caption "芯片详细信息").
  [[nodiscard]] std::string DetailsText() const;

  void AddListener(Listener listener) { listeners_.push_back(std::move(listener)); }

 private:
  static std::string Current(const std::vector<std::string>& list, int index) {
    return index >= 0 && index < static_cast<int>(list.size()) ? list[index] : std::string();
  }
  void Notify(Change change);

  const ChipCatalogue& catalogue_;
  ChipParameterSink& packet_;
  MainState& state_;
  std::vector<std::string> types_, manufacturers_, models_;
  int type_index_ = -1, manufacturer_index_ = -1, model_index_ = -1;
  std::string capacity_label_ = "0";
  int picture_ = 0;
  std::vector<Listener> listeners_;
};

// "%dKbits/%dbytes"-style label for a capacity in bytes, e.g. "32Mbits/4Mbytes".
[[nodiscard]] std::string CapacityLabelText(std::uint32_t capacity);
// Chip picture number for an operation-type text; 0 when the text picks none.
[[nodiscard]] int PictureForOperationType(const std::string& operation_type);

inline constexpr char kDetailsCaption[] = "芯片详细信息";

}  // namespace tarvix
