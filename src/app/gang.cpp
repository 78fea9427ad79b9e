// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/gang.h"

#include <algorithm>

#include "device/programmer_identity.h"

namespace tarvix {
namespace {

// The identity read of a programmer found on the buses says nothing to anyone.
class QuietHost final : public Host {
 public:
  void ShowStatus(std::string_view, bool, bool) override {}
  void AppendLogLine(std::string_view) override {}
  void ClearLog() override {}
  void SetProgress(int, std::string_view, CaptionAlign) override {}
  void ShowProgress(bool) override {}
  bool Confirm(std::string_view) override { return false; }
  BoxAnswer MessageBox(std::string_view, std::string_view, BoxIcon, BoxButtons) override {
    return BoxAnswer::kCancel;
  }
  void DisableCommand(int) override {}
  void EnableCommand(int) override {}
  void GrayMenuItem(int) override {}
  void EnableMenuItem(int) override {}
  void SetBusyCaption(int, bool) override {}
  void InformationBeep() override {}
  void PlaySound(const std::filesystem::path&) override {}
  void SetPicture(int, int) override {}
};

}  // namespace

Gang::Gang(UsbBackend& backend, Clock& clock, const ChipCatalogue& catalogue,
           const SettingChecks& settings, ImageBuffer& image, FileLoadSave& files)
    : backend_(backend),
      clock_(clock),
      catalogue_(catalogue),
      settings_(settings),
      image_(image),
      files_(files) {
  watcher_ = std::thread([this] { WatchLoop(); });
}

Gang::~Gang() {
  {
    std::lock_guard<std::mutex> lock(watch_mutex_);
    watch_exit_ = true;
  }
  watch_cv_.notify_all();
  if (watcher_.joinable()) watcher_.join();
  StopAll();
  std::vector<std::unique_ptr<GangProgrammer>> programmers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    programmers.swap(programmers_);
  }
  programmers.clear();  // each waits for its own run
}

GangShared Gang::Shared() {
  return {backend_, clock_, catalogue_, settings_, image_, files_, enumeration_};
}

GangProgrammer* Gang::Find(std::uint32_t serial) const {
  for (const auto& p : programmers_)
    if (p->Serial() == serial) return p.get();
  return nullptr;
}

std::size_t Gang::Discover() {
  std::lock_guard<std::mutex> discovering(discover_mutex_);
  std::vector<UsbDeviceInfo> found;
  {
    std::lock_guard<std::mutex> lock(enumeration_);
    backend_.Rescan();
    for (const UsbDeviceInfo& info : backend_.Devices())
      if (info.vendor_id == kProgrammerVendorId && info.product_id == kProgrammerProductId)
        found.push_back(info);
  }
  const auto at = [](const GangProgrammer& p, const UsbDeviceInfo& info) {
    return p.Bus() == info.bus && p.Address() == info.address;
  };
  bool added = false;
  std::vector<UsbDeviceInfo> unknown;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& p : programmers_) {
      const bool present = std::any_of(found.begin(), found.end(),
                                       [&](const UsbDeviceInfo& i) { return at(*p, i); });
      if (!present && !p->IsGone()) p->Gone();
    }
    // Places no programmer that is still here is bound to: new, or back.
    for (const UsbDeviceInfo& info : found) {
      const bool taken = std::any_of(programmers_.begin(), programmers_.end(),
                                     [&](const auto& p) { return !p->IsGone() && at(*p, info); });
      if (!taken) unknown.push_back(info);
    }
  }
  for (const UsbDeviceInfo& info : unknown) {
    MainState state;
    QuietHost quiet;
    UsbLink link(backend_, quiet, state);
    link.BindTo(info.bus, info.address);
    link.ShareEnumeration(&enumeration_);
    CommandPacket packet;
    packet.SetMarks();
    std::optional<std::uint32_t> serial;
    if (link.OpenSequence()) serial = ReadProgrammerSerial(link, packet);
    link.CloseDevice();
    if (!serial) continue;  // not answering (or in its update mode): looked at again next time

    std::lock_guard<std::mutex> lock(mutex_);
    GangProgrammer* known = Find(*serial);
    if (known != nullptr) {
      // Back (replugged, or at another place): its old run must be over first.
      if (known->Running()) {
        retry_ = true;
        continue;
      }
      known->Join();
      known->Rebind(info.bus, info.address);
      if (job_ && joining_ && known->EndedUnplugged()) StartOne(*known);
      continue;
    }
    programmers_.push_back(
        std::make_unique<GangProgrammer>(Shared(), *serial, info.bus, info.address));
    added = true;
    if (job_ && joining_ && only_.empty()) StartOne(*programmers_.back());
  }
  std::function<void()> changed;
  std::size_t connected = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    changed = rows_changed_;
    for (const auto& p : programmers_) connected += p->IsGone() ? 0 : 1;
  }
  if (added && changed) changed();
  return connected;
}

void Gang::DeviceChange() {
  {
    std::lock_guard<std::mutex> lock(watch_mutex_);
    watch_pending_ = true;
  }
  watch_cv_.notify_all();
}

void Gang::WatchLoop() {
  std::unique_lock<std::mutex> lock(watch_mutex_);
  for (;;) {
    if (retry_) {
      watch_cv_.wait_for(lock, std::chrono::milliseconds(50),
                         [this] { return watch_pending_ || watch_exit_; });
    } else {
      watch_cv_.wait(lock, [this] { return watch_pending_ || watch_exit_; });
    }
    if (watch_exit_) return;
    watch_pending_ = false;
    lock.unlock();
    retry_ = false;
    (void)Discover();
    lock.lock();
  }
}

std::size_t Gang::Connected() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::size_t n = 0;
  for (const auto& p : programmers_) n += p->IsGone() ? 0 : 1;
  return n;
}

std::vector<GangRow> Gang::Rows() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<GangRow> rows;
  for (const auto& p : programmers_) {
    GangRow row = p->Row();
    // A programmer that left between runs shows so too.
    if (p->IsGone() && !p->Running() && row.state != GangState::kUnplugged) {
      row.state = GangState::kUnplugged;
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

void Gang::StartOne(GangProgrammer& programmer) {
  programmer.Start(*job_, chip_listener_);
}

bool Gang::Start(const GangJob& job, const std::vector<std::uint32_t>& only, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& p : programmers_)
    if (p->Running()) {
      *error = "a gang run is still under way";
      return false;
    }
  for (const std::uint32_t serial : only) {
    const GangProgrammer* p = Find(serial);
    if (p == nullptr || p->IsGone()) {
      *error = kGangUnknownProgrammer + SerialText(serial);
      return false;
    }
  }
  std::vector<GangProgrammer*> chosen;
  for (const auto& p : programmers_) {
    if (p->IsGone()) continue;
    if (!only.empty() && std::find(only.begin(), only.end(), p->Serial()) == only.end()) continue;
    chosen.push_back(p.get());
  }
  if (chosen.empty()) {
    *error = kGangNoProgrammer;
    return false;
  }
  job_ = job;
  only_ = only;
  joining_ = true;
  for (GangProgrammer* p : chosen) StartOne(*p);
  return true;
}

void Gang::Stop(std::uint32_t serial) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (GangProgrammer* p = Find(serial)) p->Stop();
}

void Gang::StopAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  joining_ = false;
  for (const auto& p : programmers_) p->Stop();
}

bool Gang::WaitAll(std::chrono::milliseconds timeout) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  while (Running()) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::lock_guard<std::mutex> lock(mutex_);
  joining_ = false;
  for (const auto& p : programmers_) p->Join();
  return true;
}

bool Gang::Running() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::any_of(programmers_.begin(), programmers_.end(),
                     [](const auto& p) { return p->Running(); });
}

GangSummary Gang::Summary() const {
  GangSummary summary;
  summary.rows = Rows();
  for (const GangRow& row : summary.rows) {
    summary.passed += row.passed;
    summary.failed += row.failed;
  }
  return summary;
}

void Gang::SetChipListener(GangProgrammer::ChipListener listener) {
  std::lock_guard<std::mutex> lock(mutex_);
  chip_listener_ = std::move(listener);
}

void Gang::SetRowsChanged(std::function<void()> listener) {
  std::lock_guard<std::mutex> lock(mutex_);
  rows_changed_ = std::move(listener);
}

}  // namespace tarvix
