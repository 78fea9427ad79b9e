// SPDX-License-Identifier: GPL-3.0-or-later
// log show, log export: the production log --log names, read back by lot (--lot) and
// day, as text, JSON or CSV.
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include "cli/cli_context.h"
#include "cli/file_reasons.h"
#include "production/log_database.h"
#include "production/production_log.h"

namespace tarvix::cli {
namespace {

bool IsDay(const std::string& text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (i != 4 && i != 7 && (text[i] < '0' || text[i] > '9')) return false;
  return true;
}

// The filter and the remaining arguments of a log command; an error text when they
// are wrong.
std::string ParseLogArgs(const Context& c, std::string_view command, std::size_t files,
                         LogFilter* filter, std::vector<std::string>* rest) {
  const std::vector<std::string>& args = c.options().args;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--day") {
      if (i + 1 >= args.size() || !IsDay(args[i + 1])) return "--day takes a day as YYYY-MM-DD";
      filter->day = args[++i];
    } else if (args[i].rfind("--", 0) == 0) {
      return "unknown option " + args[i] + " for " + std::string(command);
    } else {
      rest->push_back(args[i]);
    }
  }
  if (rest->size() != files)
    return std::string(command) + (files == 0 ? " takes no file" : " needs OUT.csv");
  if (c.options().log.empty()) return std::string(command) + " needs --log FILE";
  filter->lot = c.options().lot.value_or("");
  return {};
}

// The log, opened only when it is there: showing a log never makes one.
std::unique_ptr<LogDatabase> OpenExistingLog(const Context& c) {
  const std::string& path = c.options().log;
  if (const std::string why = WhyUnreadable(path); !why.empty()) {
    std::cerr << "tarvix-cli: --log " << path << ": " << why << "\n";
    return nullptr;
  }
  std::string error;
  std::unique_ptr<LogDatabase> db = LogDatabase::Open(path, &error);
  if (!db) std::cerr << "tarvix-cli: " << error << "\n";
  return db;
}

std::string EntryJson(const ChipLogEntry& e) {
  return "{\"id\":" + std::to_string(e.id) + ",\"time\":" + JsonString(e.time) +
         ",\"lot\":" + JsonString(e.lot) + ",\"programmer\":" + JsonString(e.programmer) +
         ",\"chip_model\":" + JsonString(e.chip_model) + ",\"chip_id\":" + JsonString(e.chip_id) +
         ",\"image\":" + JsonString(e.image) + ",\"image_crc32\":" + JsonString(e.image_crc32) +
         ",\"image_sha256\":" + JsonString(e.image_sha256) +
         ",\"operation\":" + JsonString(e.operation) + ",\"passed\":" + JsonBool(e.passed) +
         ",\"result_text\":" + JsonString(e.result_text) +
         ",\"duration_ms\":" + std::to_string(e.duration_ms) +
         ",\"serial\":" + (e.serial ? std::to_string(*e.serial) : "null") + "}";
}

std::string EntryText(const ChipLogEntry& e) {
  std::string text = e.time + "  lot " + (e.lot.empty() ? "-" : e.lot) + "  programmer " +
                     (e.programmer.empty() ? "-" : e.programmer) + "  " + e.chip_model + " " +
                     e.chip_id + "  " + e.operation + " " + (e.passed ? "passed" : "FAILED");
  if (e.serial) text += "  serial " + std::to_string(*e.serial);
  return text + "  " + std::to_string(e.duration_ms) + " ms  " + e.image + " CRC-32 " +
         e.image_crc32 + "  " + e.result_text + "\n";
}

int LogShow(Context& c) {
  LogFilter filter;
  std::vector<std::string> rest;
  if (std::string error = ParseLogArgs(c, "log show", 0, &filter, &rest); !error.empty())
    return UsageError(error);
  if (!c.CheckFiles({{"--log", c.options().log}}, {}, false, false)) return kExitFailed;
  const std::unique_ptr<LogDatabase> db = OpenExistingLog(c);
  if (!db) return kExitFailed;
  const bool json = c.options().json;
  std::string entries;
  int passed = 0, failed = 0;
  std::string error;
  const bool ok = ProductionLog(*db).Query(
      filter,
      [&](const ChipLogEntry& e) {
        (e.passed ? passed : failed) += 1;
        if (json) {
          entries += (entries.empty() ? "" : ",") + EntryJson(e);
        } else {
          std::cout << EntryText(e);
        }
        return true;
      },
      &error);
  if (!ok) std::cerr << "tarvix-cli: " << error << "\n";
  if (json)
    std::cout << "{\"ok\":" << JsonBool(ok)
              << ",\"status\":\"\",\"log\":" << JsonString(c.options().log) << ",\"entries\":["
              << entries << "],\"passed\":" << passed << ",\"failed\":" << failed << "}\n";
  else if (ok)
    std::cout << passed + failed << (passed + failed == 1 ? " chip: " : " chips: ") << passed
              << " passed, " << failed << " failed\n";
  return ok ? kExitOk : kExitFailed;
}

int LogExport(Context& c) {
  LogFilter filter;
  std::vector<std::string> rest;
  if (std::string error = ParseLogArgs(c, "log export", 1, &filter, &rest); !error.empty())
    return UsageError(error);
  const std::string& out = rest.front();
  if (!c.CheckFiles({{"--log", c.options().log}}, {{"", out}}, false, false)) return kExitFailed;
  const std::unique_ptr<LogDatabase> db = OpenExistingLog(c);
  if (!db) return kExitFailed;
  std::string error;
  const bool ok = ProductionLog(*db).ExportCsv(filter, out, &error);
  if (!ok) std::cerr << "tarvix-cli: " << error << "\n";
  if (c.options().json)
    std::cout << "{\"ok\":" << JsonBool(ok) << ",\"status\":\"\",\"file\":" << JsonString(out)
              << "}\n";
  return ok ? kExitOk : kExitFailed;
}

const Registration kLogShow{
    {"log show",
     "log show [--day DAY]   the chips the --log FILE holds, oldest first (those of --lot\n"
     "                         and of DAY, YYYY-MM-DD, only, when given)",
     LogShow}};
const Registration kLogExport{
    {"log export",
     "log export OUT.csv [--day DAY]\n"
     "                         the same entries as a CSV file with a header line",
     LogExport}};

}  // namespace
}  // namespace tarvix::cli
