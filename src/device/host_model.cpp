// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/host_model.h"

#include <algorithm>

namespace tarvix {

HostModel::HostModel(LocalTimeSource clock, MainState* state)
    : state_(state), log_(std::move(clock)) {
  pictures_[kSecondPictureControl] = kSecondPictureDefault;
}

void HostModel::ShowStatus(std::string_view text, bool red, bool beep) {
  {
    std::lock_guard lock(mutex_);
    status_.text = text;
    status_.red = red;
  }
  if (state_ != nullptr) state_->red_flag = red ? 1 : 0;
  Notify(Change::kStatus);
  AddLogLine(text);
  if (beep) {
    {
      std::lock_guard lock(mutex_);
      ++beeps_;
    }
    Notify(Change::kBeep);
    Beep();
  }
}

void HostModel::AppendLogLine(std::string_view text) {
  AddLogLine(text);
}

void HostModel::AddLogLine(std::string_view text) {
  LogPane::Appended appended;
  {
    std::lock_guard lock(mutex_);
    appended = log_.Append(text);
  }
  Notify(Change::kLog);
  LogLineAdded(appended.line, appended.replaced);
}

void HostModel::ClearLog() {
  {
    std::lock_guard lock(mutex_);
    log_.Clear();
  }
  Notify(Change::kLog);
}

void HostModel::SetProgress(int position, std::string_view caption, CaptionAlign align) {
  ProgressState snapshot;
  {
    std::lock_guard lock(mutex_);
    progress_.position = std::clamp(position, 0, 100);
    progress_.caption = caption;
    progress_.align = align;
    snapshot = progress_;
  }
  Notify(Change::kProgress);
  ProgressChanged(snapshot);
}

void HostModel::ShowProgress(bool visible) {
  ProgressState snapshot;
  {
    std::lock_guard lock(mutex_);
    progress_.visible = visible;
    snapshot = progress_;
  }
  Notify(Change::kProgress);
  ProgressChanged(snapshot);
}

bool HostModel::Confirm(std::string_view question) {
  return MessageBox(question, "Information", BoxIcon::kInformation, BoxButtons::kOkCancel) ==
         BoxAnswer::kOk;
}

void HostModel::SetPicture(int control_id, int picture) {
  {
    std::lock_guard lock(mutex_);
    pictures_[control_id] = picture;
  }
  Notify(Change::kPicture);
}

void HostModel::SetProgrammerPresent(bool present) {
  {
    std::lock_guard lock(mutex_);
    if (programmer_present_ == present) return;
    programmer_present_ = present;
  }
  Notify(Change::kPicture);
}

bool HostModel::ProgrammerPresent() const {
  std::lock_guard lock(mutex_);
  return programmer_present_;
}

void HostModel::InformationBeep() {
  {
    std::lock_guard lock(mutex_);
    ++information_beeps_;
  }
  Notify(Change::kInformationBeep);
  InformationSound();
}

int HostModel::InformationBeepRequests() const {
  std::lock_guard lock(mutex_);
  return information_beeps_;
}

StatusLine HostModel::Status() const {
  std::lock_guard lock(mutex_);
  return status_;
}

int HostModel::BeepRequests() const {
  std::lock_guard lock(mutex_);
  return beeps_;
}

std::vector<std::string> HostModel::LogLines() const {
  std::lock_guard lock(mutex_);
  return log_.Lines();
}

std::string HostModel::LogText() const {
  std::lock_guard lock(mutex_);
  return log_.Text();
}

ProgressState HostModel::Progress() const {
  std::lock_guard lock(mutex_);
  return progress_;
}

int HostModel::Picture(int control_id) const {
  std::lock_guard lock(mutex_);
  const auto it = pictures_.find(control_id);
  return it == pictures_.end() ? 0 : it->second;
}

void HostModel::AddListener(Listener listener) {
  std::lock_guard lock(mutex_);
  listeners_.push_back(std::move(listener));
}

void HostModel::Notify(Change change) {
  std::vector<Listener> listeners;
  {
    std::lock_guard lock(mutex_);
    listeners = listeners_;
  }
  for (const Listener& l : listeners) l(change);
}

}  // namespace tarvix
