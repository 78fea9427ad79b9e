// SPDX-License-Identifier: GPL-3.0-or-later
// Gang programming over simulated programmers on one bus: each runs its own bulk run
// on its own thread, stamping serial numbers and writing the production log on its own
// connection. One unplugged in the middle of a write ends its row with the device
// error while the others finish, every chip of theirs verified byte for byte with its
// own serial number; the log holds each chip under the programmer that programmed it.
// One that stops answering is ended by its own worker.
#include "app/gang.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <random>

#include "app/program.h"
#include "buffer/memory_source.h"
#include "device/recording_host.h"
#include "operations/operation_fixture.h"
#include "operations/pre_check.h"
#include "production/log_database.h"
#include "production/production_log.h"
#include "production/serial_number.h"
#include "sim/sim_backend.h"
#include "sim/sim_operator.h"
#include "sim/sim_setup.h"

namespace tarvix::testing {
namespace {

using namespace std::chrono_literals;

// The simulated bus with one hand in it: pulls a programmer's cable once that
// programmer's write has moved `after_bytes` since the hand was armed.
class CablePuller final : public UsbBackend {
 public:
  explicit CablePuller(sim::SimBus& bus) : bus_(bus), inner_(bus) {}

  void Arm(std::size_t index, int after_bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    victim_ = index;
    left_ = after_bytes;
    armed_ = true;
  }
  [[nodiscard]] bool Pulled() const { return pulled_.load(); }

  void Rescan() override { inner_.Rescan(); }
  std::vector<UsbDeviceInfo> Devices() override {
    std::lock_guard<std::mutex> lock(mutex_);
    listed_ = inner_.Devices();
    return listed_;
  }
  UsbHandle Open(std::size_t index) override {
    const UsbHandle h = inner_.Open(index);
    std::lock_guard<std::mutex> lock(mutex_);
    if (h != kNoUsbHandle && index < listed_.size()) address_[h] = listed_[index].address;
    return h;
  }
  int SetConfiguration(UsbHandle h, int c) override { return inner_.SetConfiguration(h, c); }
  int ClaimInterface(UsbHandle h, int i) override { return inner_.ClaimInterface(h, i); }
  int ReleaseInterface(UsbHandle h, int i) override { return inner_.ReleaseInterface(h, i); }
  int Close(UsbHandle h) override { return inner_.Close(h); }
  int BulkWrite(UsbHandle h, int endpoint, const std::uint8_t* data, int size,
                int timeout_ms) override {
    const int result = inner_.BulkWrite(h, endpoint, data, size, timeout_ms);
    bool pull = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      // Programmers sit at addresses 1, 2, ... in the order they were added.
      if (armed_ && address_[h] == static_cast<int>(victim_) + 1 && result > 0) {
        left_ -= result;
        pull = left_ <= 0;
        if (pull) armed_ = false;
      }
    }
    if (pull) {
      bus_.Unplug(victim_);
      pulled_ = true;
    }
    return result;
  }
  int BulkRead(UsbHandle h, int endpoint, std::uint8_t* data, int size, int timeout_ms) override {
    return inner_.BulkRead(h, endpoint, data, size, timeout_ms);
  }
  int InterruptWrite(UsbHandle h, int endpoint, const std::uint8_t* data, int size,
                     int timeout_ms) override {
    return inner_.InterruptWrite(h, endpoint, data, size, timeout_ms);
  }
  void SetDeviceChangeHandler(DeviceChangeHandler handler) override {
    inner_.SetDeviceChangeHandler(std::move(handler));
  }

 private:
  sim::SimBus& bus_;
  sim::SimBackend inner_;
  std::mutex mutex_;
  std::vector<UsbDeviceInfo> listed_;
  std::map<UsbHandle, int> address_;
  std::size_t victim_ = 0;
  int left_ = 0;
  bool armed_ = false;
  std::atomic<bool> pulled_{false};
};

class GangFixture : public ::testing::Test {
 protected:
  static constexpr int kProgrammers = 4;
  static constexpr char kModel[] = "W25Q80DV";
  static constexpr SerialSettings kStamp{0x100, SerialEncoding::kBinary, 4, 1, false, 5000};

  GangFixture() {
    catalogue_.Load(TARVIX_DATABASE_DAT, [](std::string_view, std::string_view) {});
    record_ = *sim::FindSimulatedModel(catalogue_, kModel);
    chip_ = *sim::VirtualChip::Describe(catalogue_.Record(static_cast<std::uint32_t>(record_)));
    for (int i = 0; i < kProgrammers; ++i) {
      sim::ProgrammerConfig config;
      config.serial = sim::kFirstSimulatedSerial + static_cast<std::uint32_t>(i);
      bus_.AddProgrammer(config).InsertChip(std::make_unique<sim::VirtualChip>(chip_));
      operators_.push_back(std::make_unique<sim::SimOperator>(bus_, static_cast<std::size_t>(i),
                                                              chip_, sim::GangSwapMs(1000, i)));
    }
    std::vector<std::uint8_t> bytes(300'000);
    std::mt19937 random(22);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
    image_ = std::make_unique<MemorySource>(std::move(bytes));

    ProgramOptions options;
    options.base = dir_.path;
    options.catalogue = &catalogue_;
    options.worker_thread = false;
    options.device_change_notices = false;
    options.window_files = false;
    program_ = std::make_unique<Program>(options, usb_, clock_, host_);
    gang_ = std::make_unique<Gang>(usb_, clock_, catalogue_, program_->SettingsMenu(),
                                   program_->Image(), program_->Files());
    usb_.SetDeviceChangeHandler([this] { gang_->DeviceChange(); });
  }
  ~GangFixture() override {
    usb_.SetDeviceChangeHandler(nullptr);
    gang_.reset();
  }

  [[nodiscard]] std::size_t IndexOf(std::uint32_t serial) const {
    return serial - sim::kFirstSimulatedSerial;
  }
  // The chip still in the socket of programmer `index` is the image, byte for byte,
  // with `serial` stamped in (when given), and blank past it.
  [[nodiscard]] bool HoldsImage(std::size_t index, std::optional<std::uint64_t> serial) {
    const sim::VirtualChip* chip = bus_.Programmer(index).chip();
    if (chip == nullptr) return false;
    const std::vector<std::uint8_t> got = chip->ReadRange(0, chip->capacity());
    std::vector<std::uint8_t> want = image_->Bytes();
    if (serial) {
      const auto bytes = EncodeSerial(kStamp, *serial);
      if (!bytes) return false;
      std::copy(bytes->begin(), bytes->end(), want.begin() + kStamp.address);
    }
    return std::equal(want.begin(), want.end(), got.begin()) &&
           std::all_of(got.begin() + static_cast<std::ptrdiff_t>(want.size()), got.end(),
                       [](std::uint8_t b) { return b == 0xFF; });
  }

  GangJob Job(int count) const {
    GangJob job;
    job.image = image_.get();
    job.chip_record = record_;
    job.count = count;
    return job;
  }

  ScratchFolder dir_;
  ChipCatalogue catalogue_;
  std::int32_t record_ = -1;
  sim::ChipDescription chip_;
  VirtualClock clock_;
  sim::SimBus bus_{clock_};
  CablePuller usb_{bus_};
  RecordingHost host_;
  std::vector<std::unique_ptr<sim::SimOperator>> operators_;
  std::unique_ptr<MemorySource> image_;
  std::unique_ptr<Program> program_;
  std::unique_ptr<Gang> gang_;
};

TEST_F(GangFixture, OneUnpluggedMidWriteEndsItsRowWhileTheOthersVerifyAndLogEveryChip) {
  ASSERT_EQ(gang_->Discover(), 4u);
  constexpr std::size_t kVictim = 2;
  constexpr int kChips = 10;
  std::mutex mutex;
  std::map<std::uint32_t, int> verified;         // chips found byte for byte right, by programmer
  std::map<std::uint64_t, std::string> stamped;  // serial number -> programmer
  int stamped_twice = 0;
  gang_->SetChipListener([&](const GangChipReport& report) {
    const std::size_t index = IndexOf(report.programmer);
    const bool right = report.passed && HoldsImage(index, report.stamped);
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (right) ++verified[report.programmer];
      if (report.stamped && !stamped.emplace(*report.stamped, report.name).second) ++stamped_twice;
    }
    // Half-way through its fifth chip's write, the victim's cable is pulled.
    if (index == kVictim && report.number == 4) usb_.Arm(kVictim, 150'000);
    if (report.passed && report.number < kChips) operators_[index]->ChipDone();
  });
  GangJob job = Job(kChips);
  job.log = dir_.path / "production.db";
  job.production.lot = "L22";
  job.production.image_name = "image.bin";
  job.production.serial = kStamp;
  std::string error;
  ASSERT_TRUE(gang_->Start(job, {}, &error)) << error;
  ASSERT_TRUE(gang_->WaitAll(60s));
  EXPECT_TRUE(usb_.Pulled());

  const GangSummary summary = gang_->Summary();
  ASSERT_EQ(summary.rows.size(), 4u);
  for (const GangRow& row : summary.rows) {
    SCOPED_TRACE(row.name + ": " + row.status);
    if (IndexOf(row.serial) == kVictim) {
      EXPECT_EQ(row.state, GangState::kUnplugged);
      EXPECT_EQ(row.passed, 4);
      EXPECT_EQ(row.failed, 1);
      EXPECT_TRUE(row.red);
      EXPECT_EQ(row.status, kDeviceConnectError);
      // The cable went in the middle of the write: the chip holds its start only.
      const std::vector<std::uint8_t> got =
          bus_.Programmer(kVictim).chip()->ReadRange(0x1000, 0x1000);
      EXPECT_TRUE(std::equal(got.begin(), got.end(), image_->Bytes().begin() + 0x1000));
      EXPECT_FALSE(HoldsImage(kVictim, std::nullopt));
    } else {
      EXPECT_EQ(row.state, GangState::kDone);
      EXPECT_EQ(row.passed, kChips);
      EXPECT_EQ(row.failed, 0);
      EXPECT_EQ(verified[row.serial], kChips);
    }
  }
  EXPECT_EQ(summary.passed, 3 * kChips + 4);

  // Every chip has a number of its own, and the log names the programmer of each.
  EXPECT_EQ(stamped_twice, 0);
  EXPECT_EQ(stamped.size(), static_cast<std::size_t>(3 * kChips + 5));
  auto db = LogDatabase::Open(*job.log, &error);
  ASSERT_TRUE(db) << error;
  ProductionLog log(*db);
  std::size_t entries = 0;
  ASSERT_TRUE(log.Query(
      {},
      [&](const ChipLogEntry& entry) {
        ++entries;
        EXPECT_EQ(entry.lot, "L22");
        EXPECT_TRUE(entry.serial.has_value());
        if (entry.serial) {
          EXPECT_EQ(entry.programmer, stamped[*entry.serial]) << *entry.serial;
        }
        return true;
      },
      &error))
      << error;
  EXPECT_EQ(entries, stamped.size());
}

TEST_F(GangFixture, AProgrammerThatStopsAnsweringIsTimedOutByItsOwnWorker) {
  ASSERT_EQ(gang_->Discover(), 4u);
  // Programmer 1 answers nothing more once its first chip is done.
  gang_->SetChipListener([&](const GangChipReport& report) {
    const std::size_t index = IndexOf(report.programmer);
    if (index == 1 && report.number == 1) {
      sim::LinkFault silent;
      silent.action = sim::LinkFault::Action::kTimeOut;
      silent.times = -1;
      bus_.Programmer(1).AddLinkFault(silent);
    }
    if (report.number < 3) operators_[index]->ChipDone();
  });
  std::string error;
  ASSERT_TRUE(gang_->Start(Job(3), {}, &error)) << error;
  const bool ended = gang_->WaitAll(10s);
  for (const GangRow& row : gang_->Rows()) {
    SCOPED_TRACE(row.name + ": " + GangStateText(row.state) + ", " + row.status);
    EXPECT_TRUE(ended);
  }
  ASSERT_TRUE(ended);
  for (const GangRow& row : gang_->Rows()) {
    SCOPED_TRACE(row.name + ": " + row.status);
    if (IndexOf(row.serial) == 1) {
      EXPECT_EQ(row.state, GangState::kFailed);
      EXPECT_EQ(row.passed, 1);
      EXPECT_NE(row.status.find(kProgrammerNotAnswering), std::string::npos) << row.status;
    } else {
      EXPECT_EQ(row.state, GangState::kDone);
      EXPECT_EQ(row.passed, 3);
    }
  }
}

}  // namespace
}  // namespace tarvix::testing
