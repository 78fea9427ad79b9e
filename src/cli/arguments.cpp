// SPDX-License-Identifier: GPL-3.0-or-later
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
         "  --sim-programmers K    K simulated programmers on the bus (serial numbers 123456\n"
         "                         on), each with its own chip; --sim-image then names a\n"
         "                         folder with one file per programmer (programmer-SERIAL.bin)\n"
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
         "  --format bin|ihex|i8hex|i16hex|i32hex|srec|s19|s28|s37\n"
         "                         the format of the image file of read, write, verify and\n"
         "                         auto. Without it a known extension decides (.bin .rom:\n"
         "                         binary; .hex .ihex .ihx: Intel HEX; .srec .mot .s .sx .s19\n"
         "                         .s28 .s37: S-record), else the file's content; read writes\n"
         "                         binary then. Gaps between records read as FF\n"
         "  --log FILE             the production log (an SQLite database, created when\n"
         "                         absent): every auto, write and verify, and each chip of\n"
         "                         auto --bulk, is recorded before the next chip starts. A log\n"
         "                         that is locked (for over 5 s) or cannot be written stops\n"
         "                         the run. Without --log nothing is recorded\n"
         "  --lot TEXT             the lot recorded with each chip (with --log); log show and\n"
         "                         log export keep to that lot\n"
         "  --version              print the program's version\n"
         "Ctrl-C stops a chip command at its next block (exit status 130); a second\n"
         "Ctrl-C leaves at once. Exit status: 0 success, 1 failure, 2 usage error.\n"
         "commands:\n";
  for (const Command& c : Commands()) std::cout << "  " << c.usage << "\n";
  std::cout
      << "auto options:\n"
         "  --serial-address ADDR  with --bulk and --log: each chip takes the next serial number,\n"
         "                         written at ADDR (hexadecimal) into the data sent to it and\n"
         "                         verified there; FILE itself never changes. The counter is\n"
         "                         kept in the log and goes on where the last run stopped; a\n"
         "                         number is never given twice (a failed chip's is spoiled)\n"
         "  --serial-encoding binary|bcd|ascii-dec|ascii-hex\n"
         "                         how the number is written (default binary)\n"
         "  --serial-width N       bytes of the field (default 4)\n"
         "  --serial-order msb|lsb\n"
         "                         the most significant byte, BCD pair or digit first (the\n"
         "                         default) or last\n"
         "  --serial-start N       the first number (default 0); a run with other serial\n"
         "                         options starts the counter again at its start\n"
         "  --serial-step N        what each chip adds to the number (default 1)\n";
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
    } else if (a == "--sim-programmers") {
      if (!value(v) || v.empty() || v.size() > 2 ||
          v.find_first_not_of("0123456789") != std::string::npos || std::stoi(v) < 1 ||
          std::stoi(v) > 32)
        return UsageError("--sim-programmers takes a number from 1 to 32");
      o.sim_programmers = std::stoi(v);
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
    } else if (a == "--format") {
      if (!value(v)) return UsageError("--format needs a format");
      o.format = ParseFormatName(v);
      if (!o.format)
        return UsageError("--format takes bin, ihex, i8hex, i16hex, i32hex, srec, s19, s28 or s37");
    } else if (a == "--log") {
      if (!value(o.log) || o.log.empty()) return UsageError("--log needs a file");
    } else if (a == "--lot") {
      if (!value(v)) return UsageError("--lot needs a text");
      o.lot = v;
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

int CheckOptionsFit(const Command& command, const Options& options) {
  const auto among = [&](std::initializer_list<const char*> names) {
    for (const char* name : names)
      if (command.name == name) return true;
    return false;
  };
  if (options.format && !among({"read", "write", "verify", "auto", "gang auto"}))
    return UsageError("--format is for read, write, verify, auto and gang auto");
  if (!options.log.empty() &&
      !among({"write", "verify", "auto", "gang auto", "log show", "log export"}))
    return UsageError("--log is for write, verify, auto, gang auto and the log commands");
  if (options.lot && options.log.empty()) return UsageError("--lot needs --log FILE");
  return 0;
}

}  // namespace tarvix::cli
