// SPDX-License-Identifier: GPL-3.0-or-later
#include "production/production_log.h"

#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "buffer/replacement_file.h"

namespace tarvix {
namespace {

constexpr char kPassed[] = "passed";
constexpr char kFailed[] = "failed";

constexpr char kSelect[] =
    "SELECT id, time, programmer, chip_model, chip_id, image, image_crc32, image_sha256, "
    "operation, result, result_text, duration_ms, lot, serial FROM chips "
    "WHERE (?1 = '' OR lot = ?1) AND (?2 = '' OR substr(time, 1, 10) = ?2) ORDER BY id";

ChipLogEntry EntryFrom(const LogStatement& row) {
  ChipLogEntry entry;
  entry.id = row.Integer(0);
  entry.time = row.Text(1);
  entry.programmer = row.Text(2);
  entry.chip_model = row.Text(3);
  entry.chip_id = row.Text(4);
  entry.image = row.Text(5);
  entry.image_crc32 = row.Text(6);
  entry.image_sha256 = row.Text(7);
  entry.operation = row.Text(8);
  entry.passed = row.Text(9) == kPassed;
  entry.result_text = row.Text(10);
  entry.duration_ms = row.Integer(11);
  entry.lot = row.Text(12);
  if (!row.IsNull(13)) entry.serial = static_cast<std::uint64_t>(row.Integer(13));
  return entry;
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

bool WriteAll(int fd, const std::string& text) {
  const char* data = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, data, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::string LocalTimeText(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  ::localtime_r(&seconds, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::string CsvLine(const ChipLogEntry& e) {
  std::string line;
  for (const std::string* field : {&e.time, &e.programmer, &e.chip_model, &e.chip_id, &e.image,
                                   &e.image_crc32, &e.image_sha256, &e.operation}) {
    line += CsvField(*field) + ",";
  }
  line += std::string(e.passed ? kPassed : kFailed) + "," + CsvField(e.result_text) + "," +
          std::to_string(e.duration_ms) + "," + CsvField(e.lot) + ",";
  if (e.serial) line += std::to_string(*e.serial);
  return line;
}

bool ProductionLog::Record(ChipLogEntry& entry, std::string* error) {
  sqlite3* db = db_.Handle();
  return db_.Transaction(
      [&] {
        LogStatement insert(
            db,
            "INSERT INTO chips (time, programmer, chip_model, chip_id, image, image_crc32, "
            "image_sha256, operation, result, result_text, duration_ms, lot, serial) "
            "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)");
        int i = 1;
        for (const std::string* field :
             {&entry.time, &entry.programmer, &entry.chip_model, &entry.chip_id, &entry.image,
              &entry.image_crc32, &entry.image_sha256, &entry.operation})
          insert.Bind(i++, *field);
        insert.Bind(9, std::string(entry.passed ? kPassed : kFailed));
        insert.Bind(10, entry.result_text);
        insert.Bind(11, entry.duration_ms);
        insert.Bind(12, entry.lot);
        if (entry.serial) {
          insert.Bind(13, static_cast<std::int64_t>(*entry.serial));
        } else {
          insert.BindNull(13);
        }
        if (insert.Step() != SQLITE_DONE) return false;
        entry.id = sqlite3_last_insert_rowid(db);
        if (!entry.serial) return true;
        LogStatement mark(db,
                          "UPDATE serial_numbers SET state = ?1 WHERE value = ?2 AND "
                          "state = 'reserved'");
        mark.Bind(1, std::string(entry.passed ? "used" : "spoiled"));
        mark.Bind(2, static_cast<std::int64_t>(*entry.serial));
        if (mark.Step() != SQLITE_DONE) return false;
        if (sqlite3_changes(db) == 1) return true;
        *error = db_.Path().string() + ": serial number " + std::to_string(*entry.serial) +
                 " was not reserved";
        return false;
      },
      error);
}

bool ProductionLog::Query(const LogFilter& filter,
                          const std::function<bool(const ChipLogEntry&)>& visit,
                          std::string* error) const {
  LogStatement select(db_.Handle(), kSelect);
  select.Bind(1, filter.lot);
  select.Bind(2, filter.day);
  int step = SQLITE_ROW;
  while ((step = select.Step()) == SQLITE_ROW)
    if (!visit(EntryFrom(select))) return true;
  if (step == SQLITE_DONE) return true;
  *error = db_.Failure();
  return false;
}

std::optional<std::vector<std::string>> ProductionLog::Lots(std::string* error) const {
  LogStatement select(db_.Handle(), "SELECT DISTINCT lot FROM chips ORDER BY lot");
  std::vector<std::string> lots;
  int step = SQLITE_ROW;
  while ((step = select.Step()) == SQLITE_ROW) lots.push_back(select.Text(0));
  if (step == SQLITE_DONE) return lots;
  *error = db_.Failure();
  return std::nullopt;
}

bool ProductionLog::ExportCsv(const LogFilter& filter, const std::filesystem::path& path,
                              std::string* error) const {
  ReplacementFile file(path);
  if (!file.Valid()) {
    *error = path.string() + ": " + std::strerror(file.Error());
    return false;
  }
  std::string pending = std::string(kLogCsvHeader) + "\n";
  bool written = true;
  const bool read = Query(
      filter,
      [&](const ChipLogEntry& entry) {
        pending += CsvLine(entry) + "\n";
        if (pending.size() < 64 * 1024) return true;
        written = WriteAll(file.Fd(), pending);
        pending.clear();
        return written;
      },
      error);
  if (!read) return false;
  if (!written || !WriteAll(file.Fd(), pending) || !file.Commit()) {
    *error = path.string() + ": " + std::strerror(file.Error() != 0 ? file.Error() : errno);
    return false;
  }
  return true;
}

}  // namespace tarvix
