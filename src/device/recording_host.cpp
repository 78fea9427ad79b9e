// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/recording_host.h"

namespace tarvix {

RecordingHost::RecordingHost(MainState* state)
    : HostModel(
          [this] {
            std::lock_guard lock(record_mutex_);
            return time_;
          },
          state) {}

void RecordingHost::QueueAnswer(BoxAnswer answer) {
  std::lock_guard lock(record_mutex_);
  script_.push_back(answer);
}

void RecordingHost::SetTime(LocalTime time) {
  std::lock_guard lock(record_mutex_);
  time_ = time;
}

void RecordingHost::Record(HostRecord record) {
  std::lock_guard lock(record_mutex_);
  records_.push_back(std::move(record));
}

BoxAnswer RecordingHost::NextAnswer(BoxButtons buttons) {
  std::lock_guard lock(record_mutex_);
  if (!script_.empty()) {
    const BoxAnswer answer = script_.front();
    script_.pop_front();
    return answer;
  }
  return buttons == BoxButtons::kYesNo || buttons == BoxButtons::kYesNoCancel ? BoxAnswer::kYes
                                                                              : BoxAnswer::kOk;
}

void RecordingHost::ShowStatus(std::string_view text, bool red, bool beep) {
  HostRecord r{HostRecord::Kind::kStatus, std::string(text)};
  r.red = red;
  r.beep = beep;
  Record(std::move(r));
  HostModel::ShowStatus(text, red, beep);
}

void RecordingHost::AppendLogLine(std::string_view text) {
  Record(HostRecord(HostRecord::Kind::kLogLine, std::string(text)));
  HostModel::AppendLogLine(text);
}

void RecordingHost::ClearLog() {
  Record(HostRecord(HostRecord::Kind::kClearLog));
  HostModel::ClearLog();
}

void RecordingHost::SetProgress(int position, std::string_view caption, CaptionAlign align) {
  HostRecord r{HostRecord::Kind::kProgress, std::string(caption)};
  r.value = position;
  r.align = align;
  Record(std::move(r));
  HostModel::SetProgress(position, caption, align);
}

void RecordingHost::ShowProgress(bool visible) {
  HostRecord r{HostRecord::Kind::kShowProgress};
  r.flag = visible;
  Record(std::move(r));
  HostModel::ShowProgress(visible);
}

bool RecordingHost::Confirm(std::string_view question) {
  HostRecord r{HostRecord::Kind::kConfirm, std::string(question), "Information"};
  r.icon = BoxIcon::kInformation;
  r.buttons = BoxButtons::kOkCancel;
  r.answer = NextAnswer(BoxButtons::kOkCancel);
  const bool ok = r.answer == BoxAnswer::kOk || r.answer == BoxAnswer::kYes;
  Record(std::move(r));
  return ok;
}

BoxAnswer RecordingHost::MessageBox(std::string_view text, std::string_view title, BoxIcon icon,
                                    BoxButtons buttons) {
  HostRecord r{HostRecord::Kind::kMessageBox, std::string(text), std::string(title)};
  r.icon = icon;
  r.buttons = buttons;
  r.answer = NextAnswer(buttons);
  const BoxAnswer answer = r.answer;
  Record(std::move(r));
  return answer;
}

void RecordingHost::DisableCommand(int id) {
  HostRecord r{HostRecord::Kind::kDisableCommand};
  r.id = id;
  Record(std::move(r));
  HostModel::DisableCommand(id);
}

void RecordingHost::EnableCommand(int id) {
  HostRecord r{HostRecord::Kind::kEnableCommand};
  r.id = id;
  Record(std::move(r));
  HostModel::EnableCommand(id);
}

void RecordingHost::GrayMenuItem(int id) {
  HostRecord r{HostRecord::Kind::kGrayMenuItem};
  r.id = id;
  Record(std::move(r));
  HostModel::GrayMenuItem(id);
}

void RecordingHost::EnableMenuItem(int id) {
  HostRecord r{HostRecord::Kind::kEnableMenuItem};
  r.id = id;
  Record(std::move(r));
  HostModel::EnableMenuItem(id);
}

void RecordingHost::SetBusyCaption(int id, bool busy) {
  HostRecord r{HostRecord::Kind::kBusyCaption};
  r.id = id;
  r.flag = busy;
  Record(std::move(r));
  HostModel::SetBusyCaption(id, busy);
}

void RecordingHost::PlaySound(const std::filesystem::path& wave) {
  Record(HostRecord(HostRecord::Kind::kSound, wave.string()));
}

void RecordingHost::SetPicture(int control_id, int picture) {
  HostRecord r{HostRecord::Kind::kPicture};
  r.id = control_id;
  r.value = picture;
  Record(std::move(r));
  HostModel::SetPicture(control_id, picture);
}

void RecordingHost::InformationBeep() {
  Record(HostRecord{HostRecord::Kind::kInformationBeep});
  HostModel::InformationBeep();
}

std::vector<HostRecord> RecordingHost::Records() const {
  std::lock_guard lock(record_mutex_);
  return records_;
}

std::vector<HostRecord> RecordingHost::RecordsOf(HostRecord::Kind kind) const {
  std::vector<HostRecord> out;
  std::lock_guard lock(record_mutex_);
  for (const HostRecord& r : records_)
    if (r.kind == kind) out.push_back(r);
  return out;
}

std::vector<std::string> RecordingHost::StatusTexts() const {
  std::vector<std::string> out;
  for (const HostRecord& r : RecordsOf(HostRecord::Kind::kStatus)) out.push_back(r.text);
  return out;
}

std::vector<std::string> RecordingHost::BoxTexts() const {
  std::vector<std::string> out;
  for (const HostRecord& r : RecordsOf(HostRecord::Kind::kMessageBox)) out.push_back(r.text);
  return out;
}

std::size_t RecordingHost::Count(HostRecord::Kind kind) const {
  return RecordsOf(kind).size();
}

HostRecord RecordingHost::LastStatus() const {
  const std::vector<HostRecord> statuses = RecordsOf(HostRecord::Kind::kStatus);
  return statuses.empty() ? HostRecord{HostRecord::Kind::kStatus} : statuses.back();
}

void RecordingHost::ClearRecords() {
  std::lock_guard lock(record_mutex_);
  records_.clear();
}

}  // namespace tarvix
