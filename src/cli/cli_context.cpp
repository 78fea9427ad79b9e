#include "cli/cli_context.h"

#include <cstdio>
#include <filesystem>
#include <iostream>

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

}  // namespace

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
  return false;
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
  for (const char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

}  // namespace tarvix::cli
