// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/cli_context.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <set>

#include "cli/terminal_output.h"

namespace tarvix::cli {
namespace {

std::vector<Command>& Registry() {
  static std::vector<Command> commands;
  return commands;
}

std::filesystem::path FindDatabase(const std::string& option) {
  if (!option.empty()) return option;
  if (std::filesystem::exists("database.dat")) return "database.dat";
  // The copy installed beside the executable.
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    for (const auto& candidate :
         {self.parent_path() / "database.dat",
          self.parent_path().parent_path() / "share" / "tarvix" / "database.dat"}) {
      if (std::filesystem::exists(candidate)) return candidate;
    }
  }
  return "database.dat";
}

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// Edits (insert, delete, replace one character) that turn `a` into `b`.
std::size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

std::vector<std::string> NearestModels(const ChipCatalogue& catalogue, std::string_view model,
                                       std::size_t most) {
  const std::string wanted = Upper(model);
  if (wanted.empty()) return {};
  // Ranks in half edits: a model that starts with what was typed comes just after an
  // exact match in other letter case, before any real slip.
  std::vector<std::pair<std::size_t, std::string>> ranked;
  std::set<std::string> seen;
  for (std::uint32_t i = 0; i < catalogue.Count(); ++i) {
    const std::string& name = catalogue.Record(i).model;
    if (!seen.insert(name).second) continue;
    const std::string upper = Upper(name);
    std::size_t d = 2 * EditDistance(wanted, upper);
    if (upper.rfind(wanted, 0) == 0) d = std::min<std::size_t>(d, upper == wanted ? 0 : 1);
    ranked.emplace_back(d, name);
  }
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const auto& x, const auto& y) { return x.first < y.first; });
  const std::size_t limit = 2 * std::max<std::size_t>(2, wanted.size() / 3);
  std::vector<std::string> out;
  for (const auto& [d, name] : ranked) {
    if (d > limit || out.size() >= most) break;
    out.push_back(name);
  }
  return out;
}

Context::Context(Options options)
    : options_(std::move(options)), catalogue_(std::make_unique<ChipCatalogue>()) {
  state_.paths = Paths::FromBase(std::filesystem::current_path());
  packet_.SetMarks();
  selection_ = std::make_unique<ChipSelection>(*catalogue_, packet_, state_);
}

bool Context::LoadCatalogue() {
  const auto path = FindDatabase(options_.database);
  if (!std::filesystem::exists(path)) {
    std::cerr << "cannot find database file " << path.string() << "\n";
    return false;
  }
  catalogue_->Load(path, [](std::string_view message, std::string_view title) {
    std::cerr << title << ": " << message << "\n";
  });
  if (catalogue_->Count() == 0) {
    std::cerr << "the chip database " << path.string() << " holds no chips\n";
    return false;
  }
  selection_->Initialise();
  if (!options_.type && !options_.manufacturer && !options_.chip) return true;
  // The first record that matches every given field.
  for (std::uint32_t i = 0; i < catalogue_->Count(); ++i) {
    const ChipRecord& r = catalogue_->Record(i);
    if ((!options_.type || r.type == *options_.type) &&
        (!options_.manufacturer || r.manufacturer == *options_.manufacturer) &&
        (!options_.chip || r.model == *options_.chip)) {
      selection_->SelectRecord(static_cast<std::int32_t>(i));
      return true;
    }
  }
  std::cerr << "no chip in the catalogue matches"
            << (options_.type ? " --type \"" + *options_.type + "\"" : "")
            << (options_.manufacturer ? " --manufacturer \"" + *options_.manufacturer + "\"" : "")
            << (options_.chip ? " --chip \"" + *options_.chip + "\"" : "") << "\n";
  if (options_.chip) {
    std::cerr << "--chip takes the exact model name as \"tarvix-cli chips\" lists it";
    const std::vector<std::string> near = NearestModels(*catalogue_, *options_.chip, 6);
    for (std::size_t i = 0; i < near.size(); ++i)
      std::cerr << (i == 0 ? "; nearest: " : ", ") << near[i];
    std::cerr << "\n";
  }
  return false;
}

bool Context::CheckFiles(std::vector<NamedFile> inputs, std::vector<NamedFile> outputs,
                         bool catalogue, bool programmer) const {
  if (catalogue) inputs.push_back({"--database", FindDatabase(options_.database)});
  if (programmer && !options_.trace.empty()) outputs.push_back({"--trace", options_.trace});
  // The simulated chip is written as well as read (with several programmers
  // --sim-image is their folder, which the simulator makes).
  if (programmer && !options_.sim_image.empty() && options_.sim_programmers == 1)
    outputs.push_back({"--sim-image", options_.sim_image});
  return CheckNamedFiles(inputs, outputs);
}

void RegisterCommand(Command command) {
  Registry().push_back(std::move(command));
}
const std::vector<Command>& Commands() {
  return Registry();
}

int UsageError(const std::string& message) {
  std::cerr << "tarvix-cli: " << message << "\n"
            << "usage: tarvix-cli [global options] COMMAND [args]; tarvix-cli --help lists them\n";
  return kExitUsage;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  char code[8];
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const std::size_t n = Utf8SequenceLength(std::string_view(text).substr(i));
    if (n == 0) {
      out += "\xEF\xBF\xBD";  // U+FFFD for a byte that is no UTF-8 (a file name's)
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F ||
               (n == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0)) {
      // Control characters, C1 included, as escapes: valid JSON that stays text on a
      // terminal too.
      std::snprintf(code, sizeof code, "\\u%04x",
                    n == 2 ? static_cast<unsigned char>(text[i + 1]) : c);
      out += code;
    } else {
      out.append(text, i, n);
    }
    i += n;
  }
  return out + "\"";
}

}  // namespace tarvix::cli
