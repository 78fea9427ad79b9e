// SPDX-License-Identifier: GPL-3.0-or-later
// A Host for tests: keeps the HostModel state, records every call in order and
// answers message boxes and confirmations from a script (OK/Yes when it runs out).
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "device/host_model.h"

namespace tarvix {

struct HostRecord {
  enum class Kind {
    kStatus,   // text, red, beep
    kLogLine,  // text
    kClearLog,
    kProgress,        // value = position, text = caption, align
    kShowProgress,    // flag = visible
    kConfirm,         // text = question, answer
    kMessageBox,      // text, title, icon, buttons, answer
    kDisableCommand,  // id
    kEnableCommand,   // id
    kGrayMenuItem,    // id
    kEnableMenuItem,  // id
    kBusyCaption,     // id, flag = busy
    kSound,           // text = path
    kPicture,         // id = control, value = picture
    kInformationBeep,
  };
  HostRecord(Kind k, std::string t = {}, std::string ti = {})
      : kind(k), text(std::move(t)), title(std::move(ti)) {}

  Kind kind;
  std::string text;
  std::string title;
  bool red = false;
  bool beep = false;
  bool flag = false;
  int id = 0;
  int value = 0;
  CaptionAlign align = CaptionAlign::kLeft;
  BoxIcon icon = BoxIcon::kNone;
  BoxButtons buttons = BoxButtons::kOk;
  BoxAnswer answer = BoxAnswer::kOk;
};

class RecordingHost : public HostModel {
 public:
  // The log's time of day is fixed (SetTime changes it) so stamps are predictable.
  explicit RecordingHost(MainState* state = nullptr);

  // Answers for the next boxes and confirmations, in order. A scripted kOk or kYes
  // confirms, anything else refuses; an unscripted box gets OK or Yes.
  void QueueAnswer(BoxAnswer answer);
  void QueueConfirm(bool ok) { QueueAnswer(ok ? BoxAnswer::kOk : BoxAnswer::kCancel); }
  void SetTime(LocalTime time);

  void ShowStatus(std::string_view text, bool red, bool beep) override;
  void AppendLogLine(std::string_view text) override;
  void ClearLog() override;
  void SetProgress(int position, std::string_view caption, CaptionAlign align) override;
  void ShowProgress(bool visible) override;
  [[nodiscard]] bool Confirm(std::string_view question) override;
  BoxAnswer MessageBox(std::string_view text, std::string_view title, BoxIcon icon,
                       BoxButtons buttons) override;
  void DisableCommand(int id) override;
  void EnableCommand(int id) override;
  void GrayMenuItem(int id) override;
  void EnableMenuItem(int id) override;
  void SetBusyCaption(int id, bool busy) override;
  void PlaySound(const std::filesystem::path& wave) override;
  void SetPicture(int control_id, int picture) override;
  void InformationBeep() override;

  [[nodiscard]] std::vector<HostRecord> Records() const;
  [[nodiscard]] std::vector<HostRecord> RecordsOf(HostRecord::Kind kind) const;
  // Texts of every ShowStatus, in order.
  [[nodiscard]] std::vector<std::string> StatusTexts() const;
  // Texts of every message box, in order.
  [[nodiscard]] std::vector<std::string> BoxTexts() const;
  [[nodiscard]] std::size_t Count(HostRecord::Kind kind) const;
  // The last status record; a record with empty text when there was none.
  [[nodiscard]] HostRecord LastStatus() const;
  void ClearRecords();

 private:
  void Record(HostRecord record);
  BoxAnswer NextAnswer(BoxButtons buttons);

  mutable std::mutex record_mutex_;
  std::vector<HostRecord> records_;
  std::deque<BoxAnswer> script_;
  LocalTime time_{12, 0, 0};
};

}  // namespace tarvix
