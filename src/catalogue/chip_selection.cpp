// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/chip_selection.h"

#include <algorithm>
#include <cstdio>

namespace tarvix {
namespace {

std::string Scaled(std::uint64_t n, const char* unit) {
  const char* prefix = "";
  std::uint64_t v = n;
  if (n <= 1023) {
  } else if (n <= 1048575) {
    prefix = "K";
    v = n / 1024;
  } else if (n > 1073741823) {
    prefix = "G";
    v = n >> 30;
  } else {
    prefix = "M";
    v = n >> 20;
  }
  return std::to_string(v) + prefix + unit;
}

}  // namespace

std::string CapacityLabelText(std::uint32_t capacity) {
  const std::uint64_t bits = std::uint64_t{capacity} * 8;
  return Scaled(bits, "bits/") + Scaled(capacity, "bytes");
}

int PictureForOperationType(const std::string& op) {
  if (op.empty()) return 0;
  const char third = op.size() >= 3 ? op[2] : '\0';
  switch (op[0]) {
    case '0':
      return 1;
    case '1':
      return 6;
    case '2':
      return third == '0' ? 2 : third == '1' ? 3 : 0;
    case '3':
      return third == '0' ? 4 : third == '1' ? 5 : 0;
    default:
      return 0;
  }
}

void ChipSelection::Initialise() {
  FillTypeList();
  FillManufacturerList(false);
  FillChipList(false);
  MakeCurrent();
}

void ChipSelection::FillTypeList() {
  types_ = catalogue_.TypeList();
  if (types_.size() > ChipCatalogue::kMaxTypes) types_.resize(ChipCatalogue::kMaxTypes);
  type_index_ = types_.empty() ? -1 : 0;
  Notify(Change::kTypeList);
}

void ChipSelection::FillManufacturerList(bool reset) {
  // Without reset the list is appended to, as at start-up when it is still empty.
  if (reset) manufacturers_.clear();
  auto more = catalogue_.ManufacturerList(CurrentType());
  manufacturers_.insert(manufacturers_.end(), more.begin(), more.end());
  if (manufacturers_.size() > ChipCatalogue::kMaxManufacturers)
    manufacturers_.resize(ChipCatalogue::kMaxManufacturers);
  manufacturer_index_ = manufacturers_.empty() ? -1 : 0;
  Notify(Change::kManufacturerList);
}

void ChipSelection::FillChipList(bool reset) {
  if (reset) models_.clear();
  auto more = catalogue_.ModelList(CurrentType(), CurrentManufacturer());
  models_.insert(models_.end(), more.begin(), more.end());
  if (models_.size() > ChipCatalogue::kMaxModels) models_.resize(ChipCatalogue::kMaxModels);
  model_index_ = models_.empty() ? -1 : 0;
  Notify(Change::kModelList);
}

void ChipSelection::MakeCurrent() {
  const auto found = catalogue_.RecordsByName(CurrentType(), CurrentManufacturer(), CurrentModel());
  if (found.empty()) return;  // nothing matches: the packet and capacity stay as they were
  const std::int32_t index = found.front();
  state_.selected_chip_index = index;
  std::uint32_t capacity = 0;
  if (!packet_.LoadChipParameters(catalogue_, index, &capacity)) return;
  state_.chip_capacity = capacity;
  capacity_label_ = CapacityLabelText(capacity);
  Notify(Change::kCurrentChip);
  const int picture = PictureForOperationType(catalogue_.Record(index).operation_type);
  if (picture != 0 && picture != picture_) {
    picture_ = picture;
    Notify(Change::kPicture);
  }
}

void ChipSelection::SelectRecord(std::int32_t index) {
  if (!catalogue_.IsValidIndex(index)) return;
  const ChipRecord& r = catalogue_.Record(static_cast<std::uint32_t>(index));
  auto find = [](const std::vector<std::string>& list, const std::string& text) {
    const auto it = std::find(list.begin(), list.end(), text);
    return it == list.end() ? -1 : static_cast<int>(it - list.begin());
  };
  type_index_ = find(types_, r.type);
  Notify(Change::kTypeList);
  FillManufacturerList(true);
  manufacturer_index_ = find(manufacturers_, r.manufacturer);
  FillChipList(true);
  model_index_ = find(models_, r.model);
  Notify(Change::kModelList);
  MakeCurrent();
}

void ChipSelection::ChooseType(std::size_t entry) {
  // Picking the entry already shown changes nothing below it.
  if (entry >= types_.size() || static_cast<int>(entry) == type_index_) return;
  type_index_ = static_cast<int>(entry);
  FillManufacturerList(true);
  FillChipList(true);
  MakeCurrent();
}

void ChipSelection::ChooseManufacturer(std::size_t entry) {
  if (entry >= manufacturers_.size() || static_cast<int>(entry) == manufacturer_index_) return;
  manufacturer_index_ = static_cast<int>(entry);
  FillChipList(true);
  MakeCurrent();
}

void ChipSelection::ChooseModel(std::size_t entry) {
  if (entry >= models_.size()) return;
  model_index_ = static_cast<int>(entry);
  MakeCurrent();
}

const ChipRecord* ChipSelection::CurrentRecord() const {
  const std::int32_t index = state_.selected_chip_index;
  return catalogue_.IsValidIndex(index) ? &catalogue_.Record(static_cast<std::uint32_t>(index))
                                        : nullptr;
}

std::string ChipSelection::DetailsText() const {
  const ChipRecord* r = CurrentRecord();
  static const ChipRecord kNone{};
  if (r == nullptr) r = &kNone;
  const std::int32_t index = state_.selected_chip_index;
  std::string text = "当前编号:" + std::to_string(index) + "\r\n芯片信息:\r\n类型:" + r->type +
                     "\r\n厂商:" + r->manufacturer + "\r\n型号:" + r->model +
                     "\r\n页大小:" + r->page_size + "          \r\n扇区大小:" + r->sector_size +
                     "\r\n容量:" + r->capacity + "\r\n主地址:" + r->main_address +
                     "\r\n从地址:" + r->slave_address + "\r\n主ID:" + r->main_id +
                     "\r\n次ID:" + r->secondary_id + "\r\n电压:" + r->voltage +
                     "\r\n操作类型:" + r->operation_type +
                     "\r\n内部编号:" + std::to_string(r->internal_number) + "\r\n对应自动指令:";
  text += packet_.DetailsText();
  text += "      ";
  return text;
}

void ChipSelection::Notify(Change change) {
  for (const auto& listener : listeners_) listener(change);
}

}  // namespace tarvix
