#include "cli/arguments.h"

#include <iostream>
#include <string>

#ifndef TARVIX_VERSION
#define TARVIX_VERSION "unknown"
#endif

namespace tarvix::cli {

namespace {

void PrintHelp() {
  std::cout
      << "usage: tarvix-cli [global options] COMMAND [args]\n"
         "global options:\n"
         "  --simulate[=MODEL]     use the simulated programmer with MODEL in its socket\n"
         "                         (default W25Q128JV-IM; none: an empty socket)\n"
         "  --sim-image FILE       the simulated chip's contents live in FILE (created if\n"
         "                         absent, erased); one program at a time may use it\n"
         "  --sim-timing instant|realistic\n"
         "                         instant (the default): waits pass in virtual time;\n"
         "                         realistic: USB 2.0 and chip speeds\n"
         "  --sim-dfu              the simulated programmer starts in its firmware-update mode\n"
         "  --database FILE        chip database (default ./database.dat)\n"
         "  --chip MODEL           the chip in the socket, by its exact model name as\n"
         "                         \"tarvix-cli chips\" lists it (letter case counts)\n"
         "  --type T --manufacturer M\n"
         "                         narrow --chip when several makers use one model name\n"
         "                         Without --chip the chip must be recognised by its ID; the\n"
         "                         24-, 25- and 93-series EEPROMs cannot be. read, write,\n"
         "                         verify, erase, blank, fill and auto never guess: they refuse\n"
         "                         an unidentified chip, and a --chip whose ID is not the chip's\n"
         "  --yes                  answer every confirmation with OK/Yes (otherwise: ask on a\n"
         "                         terminal, refuse when stdin is not a terminal)\n"
         "  --json                 print results as JSON\n"
         "  --trace FILE           log every USB transfer to FILE\n"
         "  --version              print the program's version\n"
         "Ctrl-C stops a chip command at its next block (exit status 130); a second\n"
         "Ctrl-C leaves at once. Exit status: 0 success, 1 failure, 2 usage error.\n"
         "commands:\n";
  for (const Command& c : Commands()) std::cout << "  " << c.usage << "\n";
}

bool IsCommand(const std::string& word) {
  for (const Command& c : Commands())
    if (c.name == word || c.name.rfind(word + " ", 0) == 0) return true;
  return false;
}

}  // namespace

int ParseArguments(int argc, char** argv, Options& o) {
  int i = 1;
  auto value = [&](std::string& out) {
    if (i + 1 >= argc) return false;
    out = argv[++i];
    return true;
  };
  bool after_simulate = false;  // the word just after a bare --simulate
  for (; i < argc; ++i) {
    const std::string a = argv[i];
    const bool follows_simulate = after_simulate;
    after_simulate = false;
    std::string v;
    if (a == "--help" || a == "-h") {
      PrintHelp();
      return -1;
    } else if (a == "--version") {
      std::cout << "tarvix-cli " << TARVIX_VERSION << "\n";
      return -1;
    } else if (a == "--simulate") {
      o.simulate = true;
      after_simulate = true;
    } else if (a.rfind("--simulate=", 0) == 0) {
      o.simulate = true;
      o.sim_model = a.substr(11);
    } else if (a == "--sim-image") {
      if (!value(o.sim_image)) return UsageError("--sim-image needs a file");
    } else if (a == "--sim-timing") {
      if (!value(o.sim_timing) || (o.sim_timing != "instant" && o.sim_timing != "realistic"))
        return UsageError("--sim-timing takes instant or realistic");
    } else if (a == "--sim-dfu") {
      o.sim_dfu = true;
    } else if (a == "--database") {
      if (!value(o.database)) return UsageError("--database needs a file");
    } else if (a == "--type") {
      if (!value(v)) return UsageError("--type needs a type");
      o.type = v;
    } else if (a == "--manufacturer") {
      if (!value(v)) return UsageError("--manufacturer needs a manufacturer");
      o.manufacturer = v;
    } else if (a == "--chip") {
      if (!value(v)) return UsageError("--chip needs a model");
      o.chip = v;
    } else if (a == "--yes") {
      o.yes = true;
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "--trace") {
      if (!value(o.trace)) return UsageError("--trace needs a file");
    } else if (a.rfind("--", 0) == 0 && o.command.empty()) {
      return UsageError("unknown option " + a);
    } else if (o.command.empty()) {
      // "--simulate W25Q32BV read": the model belongs after an "=".
      if (follows_simulate && !IsCommand(a))
        return UsageError("unknown command " + a +
                          " (to put a chip in the simulated socket, "
                          "write --simulate=" +
                          a + ")");
      o.command = a;
    } else {
      o.args.push_back(a);
    }
  }
  return 0;
}

const Command* FindCommand(Options& options) {
  // Two-word commands ("db pack") take precedence over one-word ones.
  for (const Command& c : Commands()) {
    if (!options.args.empty() && c.name == options.command + " " + options.args.front()) {
      options.args.erase(options.args.begin());
      return &c;
    }
  }
  const Command* found = nullptr;
  for (const Command& c : Commands())
    if (c.name == options.command) found = &c;
  return found;
}

}  // namespace tarvix::cli
