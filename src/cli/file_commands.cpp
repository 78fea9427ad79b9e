// split, join: the file division and files combine tools of the Tools menu.
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "buffer/file_division.h"
#include "buffer/files_combine.h"
#include "cli/cli_context.h"
#include "device/host.h"

namespace tarvix::cli {
namespace {

// These tools only show message boxes; the tool prints the box text instead.
class BoxHost final : public Host {
 public:
  void ShowStatus(std::string_view, bool, bool) override {}
  void AppendLogLine(std::string_view) override {}
  void ClearLog() override {}
  void SetProgress(int, std::string_view, CaptionAlign) override {}
  void ShowProgress(bool) override {}
  [[nodiscard]] bool Confirm(std::string_view) override { return false; }
  BoxAnswer MessageBox(std::string_view text, std::string_view, BoxIcon, BoxButtons) override {
    last_box_ = std::string(text);
    return BoxAnswer::kOk;
  }
  void DisableCommand(int) override {}
  void EnableCommand(int) override {}
  void GrayMenuItem(int) override {}
  void EnableMenuItem(int) override {}
  void SetBusyCaption(int, bool) override {}
  void PlaySound(const std::filesystem::path&) override {}
  void SetPicture(int, int) override {}

  [[nodiscard]] const std::string& LastBox() const { return last_box_; }

 private:
  std::string last_box_;
};

// The box text: on stdout after success, on stderr after a failure.
void PrintOutcome(bool ok, const std::string& text) {
  (ok ? std::cout : std::cerr) << text << "\n";
}

int Split(Context& c) {
  const auto& args = c.options().args;
  if (args.size() != 2 || args[0].empty()) return UsageError("split needs FILE and NODES");
  BoxHost host;
  const DivisionResult r = DivideFile(args[0], args[1], host);
  const bool ok = r.outcome == DivisionOutcome::kSucceeded;
  if (c.options().json) {
    std::cout << "{\"ok\":" << (ok ? "true" : "false")
              << ",\"status\":" << JsonString(host.LastBox())
              << ",\"nodes\":" << JsonString(r.nodes_text) << ",\"pieces\":[";
    for (std::size_t i = 0; i < r.pieces.size(); ++i)
      std::cout << (i ? "," : "") << JsonString(r.pieces[i].string());
    std::cout << "]}\n";
  } else {
    for (const auto& piece : r.pieces) std::cout << piece.string() << "\n";
    PrintOutcome(ok, host.LastBox());
  }
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
  BoxHost host;
  const CombineResult r = CombineFiles(folder, out.filename().string(), inputs, host);
  const bool ok = r.outcome == CombineOutcome::kSucceeded;
  if (c.options().json) {
    std::cout << "{\"ok\":" << (ok ? "true" : "false")
              << ",\"status\":" << JsonString(host.LastBox())
              << ",\"output\":" << JsonString(r.output.string())
              << ",\"inputs_copied\":" << r.inputs_copied << ",\"bytes\":" << r.bytes_written
              << "}\n";
  } else {
    if (ok) std::cout << r.output.string() << "\n";
    PrintOutcome(ok, host.LastBox());
  }
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
