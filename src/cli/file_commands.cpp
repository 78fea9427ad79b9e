// SPDX-License-Identifier: GPL-3.0-or-later
// split, join: the file division and files combine tools of the Tools menu.
#include <atomic>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "buffer/file_division.h"
#include "buffer/files_combine.h"
#include "cli/cli_context.h"
#include "cli/cli_host.h"
#include "cli/file_reasons.h"
#include "cli/interrupt_watch.h"

namespace tarvix::cli {
namespace {

// The shared terminal host; these tools report only in boxes, so the last box's text
// is kept as the run's status for --json.
class FileToolHost final : public CliHost {
 public:
  explicit FileToolHost(const Context& c)
      : CliHost(CliHostOptions::FromTerminal(c.options().yes)) {}
  BoxAnswer MessageBox(std::string_view text, std::string_view title, BoxIcon icon,
                       BoxButtons buttons) override {
    last_box_ = std::string(text);
    return CliHost::MessageBox(text, title, icon, buttons);
  }
  [[nodiscard]] const std::string& LastBox() const { return last_box_; }

 private:
  std::string last_box_;
};

// Ctrl-C stops the copy at its next chunk; the tool then says so and ends with 130.
class CopyInterrupt {
 public:
  CopyInterrupt() : watch_([this] { stop_.store(true); }, nullptr) {}
  [[nodiscard]] const std::atomic<bool>* Stop() const { return &stop_; }
  [[nodiscard]] bool Interrupted() const { return watch_.Interrupted(); }

 private:
  std::atomic<bool> stop_{false};
  InterruptWatch watch_;  // last: its thread uses stop_
};

int InterruptedExit() {
  std::cerr << "interrupted\n";
  return kExitInterrupted;
}

int Split(Context& c) {
  const auto& args = c.options().args;
  if (args.size() != 2 || args[0].empty()) return UsageError("split needs FILE and NODES");
  // The pieces are outputs too: a piece name may be another name of the file itself.
  std::vector<NamedFile> pieces;
  std::error_code ec;
  const std::uint64_t length = std::filesystem::file_size(args[0], ec);
  if (!ec && ValidDivisionNodes(NormaliseDivisionNodes(args[1])))
    for (const DivisionSpan& span : PlanDivision(NormaliseDivisionNodes(args[1]), length))
      pieces.push_back({"", DivisionPieceName(args[0], span)});
  if (!c.CheckFiles({{"", args[0]}}, pieces, false, false)) return kExitFailed;
  FileToolHost host(c);
  CopyInterrupt interrupt;
  const DivisionResult r = DivideFile(args[0], args[1], host, interrupt.Stop());
  const bool ok = r.outcome == DivisionOutcome::kSucceeded;
  if (c.options().json) {
    std::cout << "{\"ok\":" << JsonBool(ok) << ",\"status\":" << JsonString(host.LastBox())
              << ",\"nodes\":" << JsonString(r.nodes_text) << ",\"pieces\":[";
    for (std::size_t i = 0; i < r.pieces.size(); ++i)
      std::cout << (i ? "," : "") << JsonString(r.pieces[i].string());
    std::cout << "]}\n";
  } else {
    for (const auto& piece : r.pieces) std::cout << piece.string() << "\n";
  }
  // The box says only that it failed; which file and why go on the next line.
  const std::filesystem::path source(args[0]);
  if (r.outcome == DivisionOutcome::kSourceFailed) {
    std::string why = WhyUnreadable(source);
    std::cerr << "tarvix-cli: " << source.string() << ": "
              << (why.empty() ? "it could not be read to its end" : why) << "\n";
  } else if (r.outcome == DivisionOutcome::kPieceFailed) {
    const std::filesystem::path folder =
        source.has_parent_path() ? source.parent_path() : std::filesystem::path(".");
    const std::string why = WhyUnwritable(folder / ".tarvix-write-probe");
    std::cerr << "tarvix-cli: the pieces go beside " << source.string() << ": "
              << (why.empty() ? "writing one failed (is the disk full?)" : why) << "\n";
  }
  if (r.outcome == DivisionOutcome::kStopped || interrupt.Interrupted()) return InterruptedExit();
  switch (r.outcome) {
    case DivisionOutcome::kSucceeded:
      return kExitOk;
    case DivisionOutcome::kNoNodes:
    case DivisionOutcome::kBadNodes:
    case DivisionOutcome::kNoFile:
      return kExitUsage;
    default:
      return kExitFailed;
  }
}

int Join(Context& c) {
  const auto& args = c.options().args;
  // At least one input: an accidental "join out.bin" must not empty an existing file.
  if (args.size() < 2) return UsageError("join needs OUT and at least one FILE");
  const std::filesystem::path out(args[0]);
  const std::string folder = out.has_parent_path() ? out.parent_path().string() : std::string(".");
  std::vector<std::filesystem::path> inputs(args.begin() + 1, args.end());
  std::vector<NamedFile> named;
  for (const auto& input : inputs) named.push_back({"", input});
  if (!c.CheckFiles(named, {{"", CombineOutputPath(folder, out.filename().string())}}, false,
                    false))
    return kExitFailed;
  FileToolHost host(c);
  CopyInterrupt interrupt;
  const CombineResult r =
      CombineFiles(folder, out.filename().string(), inputs, host, interrupt.Stop());
  const bool ok = r.outcome == CombineOutcome::kSucceeded;
  if (c.options().json) {
    std::cout << "{\"ok\":" << JsonBool(ok) << ",\"status\":" << JsonString(host.LastBox())
              << ",\"output\":" << JsonString(r.output.string())
              << ",\"inputs_copied\":" << r.inputs_copied << ",\"bytes\":" << r.bytes_written
              << "}\n";
  } else {
    if (ok) std::cout << r.output.string() << "\n";
  }
  // The box says only that it failed; which file and why go on the next line.
  if (r.outcome == CombineOutcome::kInputFailed && r.inputs_copied < inputs.size()) {
    const std::filesystem::path& input = inputs[r.inputs_copied];
    const std::string why = WhyUnreadable(input);
    std::cerr << "tarvix-cli: " << input.string() << ": "
              << (why.empty() ? "it could not be read to its end" : why) << "\n";
  } else if (r.outcome == CombineOutcome::kOutputFailed) {
    const std::string why = WhyUnwritable(r.output);
    std::cerr << "tarvix-cli: " << r.output.string() << ": "
              << (why.empty() ? "it could not be created" : why) << "\n";
  } else if (r.outcome == CombineOutcome::kWriteFailed) {
    std::cerr << "tarvix-cli: " << r.output.string() << ": writing failed (is the disk full?)\n";
  }
  if (r.outcome == CombineOutcome::kStopped || interrupt.Interrupted()) return InterruptedExit();
  switch (r.outcome) {
    case CombineOutcome::kSucceeded:
      return kExitOk;
    case CombineOutcome::kNoSavePath:
    case CombineOutcome::kNoFileName:
      return kExitUsage;
    default:
      return kExitFailed;
  }
}

const Registration kSplit{
    {"split", "split FILE NODES       file division at the decimal offsets NODES (1024,2048)",
     Split}};
const Registration kJoin{
    {"join", "join OUT FILE...       files combine: FILE... end to end into OUT", Join}};

}  // namespace
}  // namespace tarvix::cli
