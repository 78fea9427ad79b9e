// SPDX-License-Identifier: GPL-3.0-or-later
// Gang programming: every programmer on the buses runs its own bulk run at the same
// time, each on its own thread at its own pace, and a failure of one never stops or
// slows the others. Programmers are told apart by their serial number (the identity
// read); hotplug adds a programmer to a running gang or ends the row of one that left.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/gang_programmer.h"

namespace tarvix {

inline constexpr char kGangNoProgrammer[] = "no programmer is connected";
inline constexpr char kGangUnknownProgrammer[] = "no programmer with serial number ";

// What a gang run ended with, over all programmers.
struct GangSummary {
  int passed = 0;
  int failed = 0;
  std::vector<GangRow> rows;
};

class Gang {
 public:
  // The gang's links take turns at `backend`'s device list under a lock of the gang's.
  Gang(UsbBackend& backend, Clock& clock, const ChipCatalogue& catalogue,
       const SettingChecks& settings, ImageBuffer& image, FileLoadSave& files);
  // Stops every run and waits for them.
  ~Gang();
  Gang(const Gang&) = delete;
  Gang& operator=(const Gang&) = delete;

  // Looks at the buses: a programmer not seen before gets its row (its serial number
  // read through a link bound to its place); a known one back at any place is bound
  // there and, while the gang runs, runs again; one that left ends its row. Returns
  // the programmers connected. Call it from no operation's thread.
  std::size_t Discover();
  // The backend's device-change notice, from any thread: the buses are looked at again
  // on the gang's own thread (a notice may come from inside a transfer).
  void DeviceChange();

  [[nodiscard]] std::size_t Connected() const;
  [[nodiscard]] std::vector<GangRow> Rows() const;

  // Starts `job` on every connected programmer, or only on those whose serial numbers
  // `only` names. False, with `error`, when none can run. A programmer that arrives
  // while the gang runs joins it (when `only` is empty).
  bool Start(const GangJob& job, const std::vector<std::uint32_t>& only, std::string* error);
  // The Stop of one row.
  void Stop(std::uint32_t serial);
  // Ctrl-C, window close: every run ends at its next block.
  void StopAll();
  // Waits until every run has ended; false when `timeout` passed first.
  [[nodiscard]] bool WaitAll(std::chrono::milliseconds timeout);
  [[nodiscard]] bool Running() const;
  // The gang ran and every run has ended (the job is kept until the next Start).
  [[nodiscard]] GangSummary Summary() const;

  // Called on the programmer's own thread after each chip.
  void SetChipListener(GangProgrammer::ChipListener listener);
  // Called (from the gang's thread) whenever a row is added.
  void SetRowsChanged(std::function<void()> listener);

 private:
  GangShared Shared();
  [[nodiscard]] GangProgrammer* Find(std::uint32_t serial) const;
  void WatchLoop();
  void StartOne(GangProgrammer& programmer);

  UsbBackend& backend_;
  Clock& clock_;
  const ChipCatalogue& catalogue_;
  const SettingChecks& settings_;
  ImageBuffer& image_;
  FileLoadSave& files_;
  std::mutex enumeration_;

  mutable std::mutex mutex_;  // the list of programmers and the job
  std::vector<std::unique_ptr<GangProgrammer>> programmers_;
  std::optional<GangJob> job_;
  bool joining_ = false;  // newcomers join the running job
  std::vector<std::uint32_t> only_;
  GangProgrammer::ChipListener chip_listener_;
  std::function<void()> rows_changed_;

  std::mutex discover_mutex_;  // one look at the buses at a time
  std::mutex watch_mutex_;
  std::condition_variable watch_cv_;
  bool watch_pending_ = false;
  std::atomic<bool> retry_{false};  // a programmer came back while its old run was still ending
  bool watch_exit_ = false;
  std::thread watcher_;
};

}  // namespace tarvix
