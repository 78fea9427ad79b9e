// SPDX-License-Identifier: GPL-3.0-or-later
#include "production/log_database.h"

#include <sqlite3.h>

namespace tarvix {
namespace {

// One row per chip; one row per serial number ever handed out (its value is never
// handed out again), with the process that reserved it; the counter's settings and
// next value.
constexpr char kSchema[] = R"(
CREATE TABLE IF NOT EXISTS chips (
  id INTEGER PRIMARY KEY,
  time TEXT NOT NULL,
  programmer TEXT NOT NULL,
  chip_model TEXT NOT NULL,
  chip_id TEXT NOT NULL,
  image TEXT NOT NULL,
  image_crc32 TEXT NOT NULL,
  image_sha256 TEXT NOT NULL,
  operation TEXT NOT NULL,
  result TEXT NOT NULL,
  result_text TEXT NOT NULL,
  duration_ms INTEGER NOT NULL,
  lot TEXT NOT NULL,
  serial INTEGER);
CREATE INDEX IF NOT EXISTS chips_by_lot ON chips(lot, time);
CREATE TABLE IF NOT EXISTS serial_numbers (
  value INTEGER PRIMARY KEY,
  state TEXT NOT NULL,
  lot TEXT NOT NULL,
  time TEXT NOT NULL,
  owner INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS serial_counter (
  id INTEGER PRIMARY KEY CHECK (id = 1),
  settings TEXT NOT NULL,
  next INTEGER NOT NULL);
)";

constexpr int kTables = 3;

}  // namespace

LogStatement::LogStatement(sqlite3* db, const char* sql) {
  if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK) {
    sqlite3_finalize(statement_);
    statement_ = nullptr;
  }
}

LogStatement::~LogStatement() {
  sqlite3_finalize(statement_);
}

void LogStatement::Bind(int index, const std::string& text) {
  sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                    SQLITE_TRANSIENT);
}

void LogStatement::Bind(int index, std::int64_t value) {
  sqlite3_bind_int64(statement_, index, value);
}

void LogStatement::BindNull(int index) {
  sqlite3_bind_null(statement_, index);
}

int LogStatement::Step() {
  return statement_ != nullptr ? sqlite3_step(statement_) : SQLITE_MISUSE;
}

std::string LogStatement::Text(int column) const {
  const auto* text = sqlite3_column_text(statement_, column);
  if (text == nullptr) return {};
  return {reinterpret_cast<const char*>(text),
          static_cast<std::size_t>(sqlite3_column_bytes(statement_, column))};
}

std::int64_t LogStatement::Integer(int column) const {
  return sqlite3_column_int64(statement_, column);
}

bool LogStatement::IsNull(int column) const {
  return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

std::unique_ptr<LogDatabase> LogDatabase::Open(const std::filesystem::path& path,
                                               std::string* error, int busy_timeout_ms) {
  sqlite3* db = nullptr;
  const int opened =
      sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  std::unique_ptr<LogDatabase> log(new LogDatabase(db, path));
  if (opened != SQLITE_OK) {
    *error = log->Failure();
    return nullptr;
  }
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, busy_timeout_ms);
  // Each committed chip is on the disk before the next one starts.
  if (!log->Execute("PRAGMA synchronous = FULL", error)) return nullptr;
  // A log that has its tables is opened without a write: reading it never waits for
  // a writer's lock.
  std::int64_t present = 0;
  {
    LogStatement tables(db,
                        "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN "
                        "('chips', 'serial_numbers', 'serial_counter')");
    if (tables.Step() != SQLITE_ROW) {
      *error = log->Failure();
      return nullptr;
    }
    present = tables.Integer(0);
  }  // Its read ends here: held into the write below, two programs creating the log at
     // once would each wait for the other, and SQLite fails one at once as locked.
  if (present < kTables && !log->Transaction([&] { return log->Execute(kSchema, error); }, error))
    return nullptr;
  return log;
}

LogDatabase::~LogDatabase() {
  sqlite3_close_v2(db_);
}

std::string LogDatabase::Failure() const {
  return path_.string() + ": " + (db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory");
}

bool LogDatabase::Execute(const char* sql, std::string* error) {
  if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK) return true;
  *error = Failure();
  return false;
}

bool LogDatabase::CheckWritable(std::string* error) {
  if (sqlite3_db_readonly(db_, "main") == 1) {
    *error = path_.string() + ": the log is read-only";
    return false;
  }
  return Transaction(
      [&] {
        LogStatement read(db_, "PRAGMA user_version");
        if (read.Step() != SQLITE_ROW) return false;
        const std::string same = "PRAGMA user_version = " + std::to_string(read.Integer(0));
        return Execute(same.c_str(), error);
      },
      error);
}

bool LogDatabase::Transaction(const std::function<bool()>& work, std::string* error) {
  error->clear();
  // IMMEDIATE takes the write lock at the start, so a busy log is found before any
  // work is done rather than at the commit.
  if (!Execute("BEGIN IMMEDIATE", error)) return false;
  if (work() && Execute("COMMIT", error)) return true;
  if (error->empty()) *error = Failure();
  (void)sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  return false;
}

}  // namespace tarvix
