// SPDX-License-Identifier: GPL-3.0-or-later
// gang auto: the auto sequence in bulk on every connected programmer at once, each on
// its own thread and at its own pace. One status line per programmer, refreshed in
// place on a terminal; a line per chip otherwise (or a JSON object with --json); a
// summary at the end. Ctrl-C stops every programmer at its next block.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/gang.h"
#include "buffer/file_source.h"
#include "cli/chip_commands.h"
#include "cli/chip_session.h"
#include "cli/cli_context.h"
#include "cli/production_output.h"
#include "device/programmer_identity.h"
#include "production/checksum_worker.h"
#include "sim/sim_bus.h"
#include "sim/sim_operator.h"

namespace tarvix::cli {
namespace {

// How often the status lines are drawn again (and Ctrl-C looked at).
constexpr int kRefreshMs = 200;
// The bound on the end of every run after a stop: 5 s, plus the longest
// single transfer (a write chunk may wait 60 s on a programmer that stopped answering).
constexpr int kStopBoundMs = 5000 + 60000;

struct GangArgs {
  std::string file;
  std::int64_t count = 0;  // 0: until Ctrl-C
  std::vector<std::uint32_t> only;
  std::int64_t swap_ms = kDefaultSwapMs;
  bool swap_given = false;
  std::optional<SerialSettings> serial;  // stamping, as auto --bulk takes it
};

bool IsNumber(const std::string& s, std::size_t most = 9) {
  return !s.empty() && s.size() <= most && s.find_first_not_of("0123456789") == std::string::npos;
}

std::string ParseGangArgs(const std::vector<std::string>& args, GangArgs& out) {
  SerialSettings serial;
  bool serial_given = false;
  bool address_given = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool has_value = i + 1 < args.size();
    if (a == "--count") {
      if (!has_value || !IsNumber(args[i + 1]) || std::stoll(args[i + 1]) == 0)
        return "--count takes a number of chips above 0";
      out.count = std::stoll(args[++i]);
    } else if (a == "--programmer") {
      if (!has_value || !IsNumber(args[i + 1], 8) || std::stoll(args[i + 1]) > 0xFFFFFF)
        return "--programmer takes a serial number (as \"tarvix-cli version\" shows it)";
      out.only.push_back(static_cast<std::uint32_t>(std::stoll(args[++i])));
    } else if (a == "--sim-swap") {
      if (!has_value || !IsNumber(args[i + 1])) return "--sim-swap needs a time in milliseconds";
      out.swap_ms = std::stoll(args[++i]);
      out.swap_given = true;
      if (out.swap_ms < kMinimumSwapMs)
        return "--sim-swap takes at least " + std::to_string(kMinimumSwapMs) + " ms";
    } else if (a.rfind("--serial-", 0) == 0) {
      if (!has_value) return a + " needs a value";
      bool known = false;
      std::string error;
      if (!ParseSerialOption(a, args[i + 1], serial, &known, &error))
        return known ? error : "unknown option " + a + " for gang auto";
      ++i;
      serial_given = true;
      address_given = address_given || a == "--serial-address";
    } else if (a.rfind("--", 0) == 0) {
      return "gang auto: unknown option " + a;
    } else if (out.file.empty()) {
      out.file = a;
    } else {
      return "gang auto takes one image file";
    }
  }
  if (out.file.empty()) return "gang auto needs an image file";
  if (serial_given) {
    if (!address_given) return "serial numbers need --serial-address";
    out.serial = serial;
  }
  return {};
}

std::string Bar(int percent) {
  constexpr int kWidth = 20;
  const int filled = percent * kWidth / 100;
  return "[" + std::string(static_cast<std::size_t>(filled), '#') +
         std::string(static_cast<std::size_t>(kWidth - filled), ' ') + "]";
}

// "123456  W25Q128JV-IM  programming  [####      ]  45%  passed 3  failed 0  status"
std::string StatusLine(const GangRow& row) {
  std::ostringstream line;
  line << row.name << "  " << row.chip << "  " << GangStateText(row.state);
  if (row.state == GangState::kProgramming)
    line << "  " << Bar(row.progress) << " " << row.progress << "%";
  line << "  passed " << row.passed << "  failed " << row.failed;
  if (!row.status.empty()) line << "  " << row.status;
  return line.str();
}

// The lines drawn last time, so the next drawing can go back over them.
class StatusBoard {
 public:
  explicit StatusBoard(bool terminal) : terminal_(terminal) {}

  void Draw(const std::vector<GangRow>& rows) {
    if (!terminal_) return;
    std::string out;
    if (drawn_ > 0) out += "\x1b[" + std::to_string(drawn_) + "F";  // back to the first line
    for (const GangRow& row : rows) {
      std::string line = StatusLine(row);
      if (line.size() > 160) line.resize(160);
      out += "\r\x1b[K" + line + "\n";
    }
    drawn_ = rows.size();
    std::cerr << out << std::flush;
  }

 private:
  bool terminal_;
  std::size_t drawn_ = 0;
};

int RunGangAuto(Context& c) {
  GangArgs args;
  if (const std::string error = ParseGangArgs(c.options().args, args); !error.empty())
    return UsageError(error);
  const Options& o = c.options();
  if (args.swap_given && !o.simulate) return UsageError("--sim-swap needs --simulate");
  if (args.serial && o.log.empty())
    return UsageError(std::string(kStampingNeedsLog) + ": give --log FILE");
  const bool json = o.json;
  const auto fail = [&](const std::string& status) {
    if (json) std::cout << "{\"ok\":false,\"status\":" << JsonString(status) << "}\n";
    return kExitFailed;
  };
  // The log is written too; it must not be the image or a chip under another name.
  std::vector<NamedFile> outputs;
  if (!o.log.empty()) outputs.push_back({"--log", o.log});
  if (!c.CheckFiles({{"", args.file}}, outputs, true, true)) return fail("");

  std::unique_ptr<ChipSession> session = ChipSession::Open(c, true);
  if (!session) return fail("");
  ChipSession& s = *session;
  Program& program = s.program();
  s.StartUp();
  if (!s.ChipSettled()) return fail(s.host().LastStatus());
  const std::int32_t record = program.State().selected_chip_index.load();
  const std::uint32_t capacity = program.State().chip_capacity.load();
  // The user's file is streamed by every programmer, read-only, summed as it is opened.
  std::string why;
  ChecksumWorker sums;
  const std::optional<FileFormat> forced =
      o.format ? std::optional(o.format->format) : std::nullopt;
  std::unique_ptr<FileSource> source =
      FileSource::Open(args.file, capacity, &why, forced,
                       [&sums](std::span<const std::uint8_t> bytes) { sums.Update(bytes); });
  const Checksums image_sums = sums.Finish();
  if (source) why = source->RangeProblem(capacity);
  if (!why.empty()) {
    s.host().BreakLine();
    std::cerr << "tarvix-cli: " << args.file << ": " << why << "\n";
    return fail("");
  }
  if (args.serial) {
    if (const std::string problem = SerialSettingsProblem(*args.serial, capacity);
        !problem.empty()) {
      std::cerr << "tarvix-cli: " << problem << "\n";
      return fail(problem);
    }
  }
  // The main link lets go of the first programmer: from here on each is its own.
  if (program.Link().IsOpen()) (void)program.Link().CloseDevice();

  Device& device = s.device();
  Gang gang(*device.backend, *device.clock, program.Catalogue(), program.SettingsMenu(),
            program.Image(), program.Files());
  if (gang.Discover() == 0) {
    std::cerr << "tarvix-cli: " << kGangNoProgrammer << "\n";
    return fail(kGangNoProgrammer);
  }
  const std::size_t programmers =
      args.only.empty() ? gang.Connected() : static_cast<std::size_t>(args.only.size());
  const std::string model = program.Catalogue().Record(static_cast<std::uint32_t>(record)).model;
  if (!s.host().Confirm("gang mode: every " + model + " put in the sockets of " +
                        std::to_string(programmers) +
                        " programmers will be erased, written and verified; continue?"))
    return fail("");

  // The simulated operators, one per programmer, each with its own pace.
  std::vector<std::unique_ptr<sim::SimOperator>> operators;
  std::map<std::uint32_t, std::size_t> operator_of;
  if (device.sim != nullptr) {
    for (std::size_t i = 0; i < device.sim->ProgrammerCount(); ++i) {
      sim::VirtualProgrammer& p = device.sim->Programmer(i);
      if (p.chip() == nullptr) continue;
      operator_of[p.serial()] = operators.size();
      operators.push_back(std::make_unique<sim::SimOperator>(
          *device.sim, i, p.chip()->description(), sim::GangSwapMs(args.swap_ms, i)));
    }
  }

  std::mutex done_mutex;
  std::deque<GangChipReport> done;
  gang.SetChipListener([&](const GangChipReport& report) {
    const auto op = operator_of.find(report.programmer);
    if (op != operator_of.end() && (args.count == 0 || report.number < args.count))
      operators[op->second]->ChipDone();
    std::lock_guard<std::mutex> lock(done_mutex);
    done.push_back(report);
  });
  device.backend->SetDeviceChangeHandler([&gang] { gang.DeviceChange(); });

  GangJob job;
  job.image = source.get();
  job.chip_record = record;
  job.count = args.count;
  if (!o.log.empty()) job.log = o.log;
  job.production = {o.lot.value_or(""), "auto", args.file, image_sums, args.serial};
  if (!json) std::cout << SumsLine("image", image_sums) << std::flush;
  std::string error;
  if (!gang.Start(job, args.only, &error)) {
    device.backend->SetDeviceChangeHandler(nullptr);
    std::cerr << "tarvix-cli: " << error << "\n";
    return fail(error);
  }

  StatusBoard board(::isatty(STDERR_FILENO) == 1 && !json);
  const auto report_chips = [&] {
    std::deque<GangChipReport> reports;
    {
      std::lock_guard<std::mutex> lock(done_mutex);
      reports.swap(done);
    }
    for (const GangChipReport& r : reports) {
      if (json) {
        std::cout << "{\"programmer\":" << JsonString(r.name) << ",\"chip\":" << r.number
                  << ",\"ok\":" << JsonBool(r.passed) << ",\"status\":" << JsonString(r.status);
        if (r.stamped) std::cout << ",\"serial\":" << *r.stamped;
        std::cout << "}" << std::endl;
      } else if (::isatty(STDERR_FILENO) != 1) {
        std::cout << r.name << " chip " << r.number << ": " << (r.passed ? "pass" : "fail");
        if (r.stamped) std::cout << "  serial " << *r.stamped;
        std::cout << "  " << r.status << std::endl;
      }
    }
  };
  bool stopping = false;
  std::chrono::steady_clock::time_point stop_started;
  while (gang.Running()) {
    if (s.Interrupted() && !stopping) {
      gang.StopAll();
      stopping = true;
      stop_started = std::chrono::steady_clock::now();
    }
    if (stopping &&
        std::chrono::steady_clock::now() - stop_started > std::chrono::milliseconds(kStopBoundMs))
      break;
    report_chips();
    board.Draw(gang.Rows());
    std::this_thread::sleep_for(std::chrono::milliseconds(kRefreshMs));
  }
  device.backend->SetDeviceChangeHandler(nullptr);
  (void)gang.WaitAll(std::chrono::milliseconds(kStopBoundMs));
  report_chips();
  const GangSummary summary = gang.Summary();
  board.Draw(summary.rows);

  const bool interrupted = s.Interrupted();
  bool all_done = !summary.rows.empty();
  for (const GangRow& row : summary.rows)
    if (row.state != GangState::kDone &&
        (args.only.empty() ||
         std::find(args.only.begin(), args.only.end(), row.serial) != args.only.end()))
      all_done = false;
  const bool ok =
      summary.failed == 0 && summary.passed > 0 && !interrupted && (args.count == 0 || all_done);
  const std::string status = "gang: " + std::to_string(summary.passed) + " passed, " +
                             std::to_string(summary.failed) + " failed on " +
                             std::to_string(summary.rows.size()) + " programmers";
  if (json) {
    std::cout << "{\"ok\":" << JsonBool(ok) << ",\"status\":" << JsonString(status)
              << ",\"file\":" << JsonString(args.file)
              << ",\"format\":" << JsonString(FormatName({source->Format(), 0}))
              << SumsJson("image", image_sums) << ",\"passed\":" << summary.passed
              << ",\"failed\":" << summary.failed << ",\"interrupted\":" << JsonBool(interrupted)
              << ",\"programmers\":[";
    for (std::size_t i = 0; i < summary.rows.size(); ++i) {
      const GangRow& r = summary.rows[i];
      std::cout << (i ? "," : "") << "{\"programmer\":" << JsonString(r.name)
                << ",\"state\":" << JsonString(GangStateText(r.state)) << ",\"passed\":" << r.passed
                << ",\"failed\":" << r.failed << ",\"status\":" << JsonString(r.status) << "}";
    }
    std::cout << "]}\n";
  } else {
    for (const GangRow& r : summary.rows)
      std::cout << r.name << ": passed " << r.passed << "  failed " << r.failed << "  "
                << GangStateText(r.state) << (r.status.empty() ? "" : "  ") << r.status << "\n";
    std::cout << "passed: " << summary.passed << "  failed: " << summary.failed << "\n";
  }
  if (interrupted) return s.InterruptedExit();
  return ok ? kExitOk : kExitFailed;
}

const Registration kGangAuto{
    {"gang auto",
     "gang auto FILE [--count N] [--programmer SERIAL ...] [--sim-swap MS]\n"
     "                         auto in bulk on every connected programmer at once (or on\n"
     "                         those --programmer names), N chips on each or until Ctrl-C;\n"
     "                         FILE binary, Intel HEX or S-record as for auto; --log, --lot\n"
     "                         and the --serial-... options as for auto --bulk, one serial\n"
     "                         number per chip over the whole gang. With --simulate,\n"
     "                         --sim-programmers K puts K programmers on the bus and\n"
     "                         --sim-image names a folder of their chips",
     [](Context& c) { return RunGangAuto(c); }}};

}  // namespace
}  // namespace tarvix::cli
