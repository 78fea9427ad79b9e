// SPDX-License-Identifier: GPL-3.0-or-later
#include "state/command_state.h"

namespace tarvix {

namespace {
const ButtonTexts* FindButton(int id) {
  for (const ButtonTexts& b : OperationButtons())
    if (b.id == id) return &b;
  return nullptr;
}

// "Write from specify file addr..." loads an image as Open does, so it is usable
// exactly while Open is: an operation that keeps the image in use grays both.
int MenuItemFollowing(int id) {
  return id == control_id::kBrowse ? control_id::kWriteFromFileAddress : 0;
}
}  // namespace

CommandState::CommandState() {
  grayed_.insert(InitiallyGrayedMenuItems().begin(), InitiallyGrayedMenuItems().end());
  for (const ButtonTexts& b : OperationButtons()) {
    captions_[b.id] = b.idle_caption;
    tooltips_[b.id] = b.idle_tooltip;
  }
  tooltips_[control_id::kEditModeBox] = "click to change file mode";
}

void CommandState::DisableCommand(int id) {
  bool control_changed, menu_changed;
  {
    std::lock_guard lock(mutex_);
    control_changed = disabled_.insert(id).second;
    menu_changed = grayed_.insert(id).second;
  }
  if (control_changed) Notify({ChangeKind::kEnabled, id});
  if (menu_changed) Notify({ChangeKind::kMenuGrayed, id});
  if (const int follower = MenuItemFollowing(id); follower != 0) GrayMenuItem(follower);
}

void CommandState::EnableCommand(int id) {
  bool control_changed, menu_changed;
  {
    std::lock_guard lock(mutex_);
    control_changed = disabled_.erase(id) > 0;
    menu_changed = grayed_.erase(id) > 0;
  }
  if (control_changed) Notify({ChangeKind::kEnabled, id});
  if (menu_changed) Notify({ChangeKind::kMenuGrayed, id});
  if (const int follower = MenuItemFollowing(id); follower != 0) EnableMenuItem(follower);
}

void CommandState::GrayMenuItem(int id) {
  bool changed;
  {
    std::lock_guard lock(mutex_);
    changed = grayed_.insert(id).second;
  }
  if (changed) Notify({ChangeKind::kMenuGrayed, id});
}

void CommandState::EnableMenuItem(int id) {
  bool changed;
  {
    std::lock_guard lock(mutex_);
    changed = grayed_.erase(id) > 0;
  }
  if (changed) Notify({ChangeKind::kMenuGrayed, id});
}

void CommandState::SetBusyCaption(int id, bool busy) {
  const ButtonTexts* b = FindButton(id);
  if (b == nullptr || b->busy_caption == nullptr) return;
  {
    std::lock_guard lock(mutex_);
    captions_[id] = busy ? b->busy_caption : b->idle_caption;
    tooltips_[id] = busy ? b->busy_tooltip : b->idle_tooltip;
    if (busy)
      busy_.insert(id);
    else
      busy_.erase(id);
  }
  Notify({ChangeKind::kCaption, id});
}

void CommandState::SetCaption(int id, const std::string& caption) {
  {
    std::lock_guard lock(mutex_);
    captions_[id] = caption;
  }
  Notify({ChangeKind::kCaption, id});
}

bool CommandState::IsEnabled(int id) const {
  std::lock_guard lock(mutex_);
  return disabled_.count(id) == 0;
}

bool CommandState::IsMenuGrayed(int id) const {
  std::lock_guard lock(mutex_);
  return grayed_.count(id) != 0;
}

std::string CommandState::Caption(int id) const {
  std::lock_guard lock(mutex_);
  const auto it = captions_.find(id);
  return it == captions_.end() ? std::string() : it->second;
}

std::string CommandState::Tooltip(int id) const {
  std::lock_guard lock(mutex_);
  const auto it = tooltips_.find(id);
  return it == tooltips_.end() ? std::string() : it->second;
}

bool CommandState::IsBusy(int id) const {
  std::lock_guard lock(mutex_);
  return busy_.count(id) != 0;
}

bool CommandState::AnyBusy() const {
  std::lock_guard lock(mutex_);
  return !busy_.empty();
}

void CommandState::AddListener(Listener listener) {
  std::lock_guard lock(mutex_);
  listeners_.push_back(std::move(listener));
}

void CommandState::Notify(const Change& change) {
  std::vector<Listener> listeners;
  {
    std::lock_guard lock(mutex_);
    listeners = listeners_;
  }
  for (const Listener& l : listeners) l(change);
}

}  // namespace tarvix
