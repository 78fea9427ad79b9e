// SPDX-License-Identifier: GPL-3.0-or-later
// The production log and the serial counter on a real SQLite file: queries and CSV,
// a lock held by another program, and a writer killed in the middle of a run.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "production/production_log.h"
#include "production/serial_counter.h"

namespace tarvix {
namespace {

namespace fs = std::filesystem;

class ProductionLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tarvix-log-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::unique_ptr<LogDatabase> Open(int busy_ms = kLogBusyTimeoutMs) {
    std::string error;
    auto db = LogDatabase::Open(path_(), &error, busy_ms);
    EXPECT_TRUE(db) << error;
    return db;
  }
  fs::path path_() const { return dir_ / "production.db"; }

  static ChipLogEntry Entry(const std::string& time, const std::string& lot, bool passed) {
    ChipLogEntry e;
    e.time = time;
    e.programmer = "TX0001";
    e.chip_model = "W25Q64";
    e.chip_id = "EF4017";
    e.image = "fw.hex";
    e.image_crc32 = "CBF43926";
    e.image_sha256 = std::string(64, 'a');
    e.operation = "auto";
    e.passed = passed;
    e.result_text =
        passed ? "Auto Erase Write Verify finished,0:1" : "verify finished.3 error(s)! 0:1";
    e.duration_ms = 1250;
    e.lot = lot;
    return e;
  }

  fs::path dir_;
};

TEST_F(ProductionLogTest, QueriesByLotAndDayAndExportsCsv) {
  auto db = Open();
  ProductionLog log(*db);
  std::string error;
  for (auto e :
       {Entry("2024-03-01 09:00:00", "L1", true), Entry("2024-03-01 23:59:59", "L2", false),
        Entry("2024-03-02 00:00:00", "L1", true)}) {
    e.result_text += ", \"quoted\"";
    ASSERT_TRUE(log.Record(e, &error)) << error;
  }
  const auto ids = [&](const LogFilter& filter) {
    std::vector<std::int64_t> found;
    EXPECT_TRUE(log.Query(
        filter,
        [&](const ChipLogEntry& e) {
          found.push_back(e.id);
          return true;
        },
        &error));
    return found;
  };
  EXPECT_EQ(ids({"L1", ""}), (std::vector<std::int64_t>{1, 3}));
  EXPECT_EQ(ids({"", "2024-03-01"}), (std::vector<std::int64_t>{1, 2}));
  EXPECT_EQ(ids({"L1", "2024-03-01"}), (std::vector<std::int64_t>{1}));
  EXPECT_EQ(*log.Lots(&error), (std::vector<std::string>{"L1", "L2"}));

  ASSERT_TRUE(log.ExportCsv({"L2", ""}, dir_ / "out.csv", &error)) << error;
  std::ifstream csv(dir_ / "out.csv");
  std::stringstream text;
  text << csv.rdbuf();
  EXPECT_EQ(text.str(), std::string(kLogCsvHeader) +
                            "\n2024-03-01 23:59:59,TX0001,W25Q64,EF4017,fw.hex,CBF43926," +
                            std::string(64, 'a') +
                            ",auto,failed,\"verify finished.3 error(s)! 0:1, \"\"quoted\"\"\","
                            "1250,L2,\n");
}

TEST_F(ProductionLogTest, ALockedLogIsReportedAfterTheWaitAndNothingIsWritten) {
  auto db = Open(100);
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(path_().c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);

  ProductionLog log(*db);
  SerialCounter counter(*db);
  std::string error;
  auto entry = Entry("2024-03-01 09:00:00", "L1", true);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(log.Record(entry, &error));
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(100));
  EXPECT_EQ(error, path_().string() + ": database is locked");
  EXPECT_FALSE(counter.Reserve("L1", &error).has_value());

  ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(other);
  EXPECT_TRUE(log.Record(entry, &error)) << error;
  EXPECT_EQ(entry.id, 1);
  // Not a database at all: refused at open, naming the file.
  std::ofstream(dir_ / "junk.db") << std::string(4096, 'x');
  EXPECT_FALSE(LogDatabase::Open(dir_ / "junk.db", &error));
  EXPECT_NE(error.find("junk.db: "), std::string::npos) << error;
}

// A bulk run as the log sees it: reserve a serial number, record the chip (marking
// the number), chip after chip, until it is killed.
[[noreturn]] void RunUntilKilled(const fs::path& path) {
  std::string error;
  auto db = LogDatabase::Open(path, &error);
  if (!db) ::_exit(2);
  ProductionLog log(*db);
  SerialCounter counter(*db);
  for (int chip = 1;; ++chip) {
    const auto serial = counter.Reserve("L7", &error);
    if (!serial) ::_exit(3);
    ChipLogEntry e;
    e.time = "2024-03-01 10:00:00";
    e.operation = "auto";
    e.passed = chip % 5 != 0;
    e.result_text = "chip " + std::to_string(*serial);
    e.lot = "L7";
    e.serial = serial;
    if (!log.Record(e, &error)) ::_exit(4);
  }
}

TEST_F(ProductionLogTest, AWriterKilledMidRunLosesAtMostTheChipInProgress) {
  {
    auto db = Open();
    SerialCounter counter(*db);
    std::string error;
    SerialSettings settings;
    settings.start = 1000;
    settings.step = 3;
    ASSERT_TRUE(counter.Configure(settings, &error)) << error;
  }
  const pid_t child = ::fork();
  if (child == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // dies with the test program, whatever befalls it
    RunUntilKilled(path_());
  }
  struct Reaper {
    pid_t pid;
    ~Reaper() {
      if (pid <= 0) return;
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  } reaper{child};
  auto db = Open();
  ASSERT_TRUE(db);
  std::int64_t seen = 0;
  for (int i = 0; i < 2000 && seen < 15; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    LogStatement count(db->Handle(), "SELECT count(*) FROM chips");
    if (count.Step() == SQLITE_ROW) seen = count.Integer(0);
  }
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  reaper.pid = -1;
  ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself: " << WEXITSTATUS(status);
  ASSERT_GE(seen, 15);

  std::string error;
  LogStatement check(db->Handle(), "PRAGMA integrity_check");
  ASSERT_EQ(check.Step(), SQLITE_ROW);
  EXPECT_EQ(check.Text(0), "ok");
  // Every chip recorded is whole and its serial number marked; the numbers follow the
  // step without a gap or a repeat.
  ProductionLog log(*db);
  SerialCounter counter(*db);
  std::int64_t chips = 0;
  ASSERT_TRUE(log.Query(
      {"L7", ""},
      [&](const ChipLogEntry& e) {
        ++chips;
        EXPECT_EQ(e.id, chips);
        EXPECT_EQ(*e.serial, 1000u + 3u * static_cast<std::uint64_t>(chips - 1));
        EXPECT_EQ(e.result_text, "chip " + std::to_string(*e.serial));
        EXPECT_EQ(counter.StateOf(*e.serial, &error), e.passed ? "used" : "spoiled");
        return true;
      },
      &error))
      << error;
  ASSERT_GE(chips, seen);
  // At most the chip in progress: its number reserved, never recorded, now spoiled.
  const std::uint64_t in_progress = 1000u + 3u * static_cast<std::uint64_t>(chips);
  std::uint64_t spoiled = 0;
  ASSERT_TRUE(counter.SpoilInterrupted(&error, &spoiled)) << error;
  EXPECT_LE(spoiled, 1u);
  EXPECT_EQ(counter.StateOf(in_progress, &error), spoiled == 1 ? "spoiled" : "");
  EXPECT_EQ(*counter.Reserve("L8", &error), in_progress + (spoiled == 1 ? 3 : 0));
}

}  // namespace
}  // namespace tarvix
