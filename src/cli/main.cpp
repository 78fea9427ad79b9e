// tarvix-cli: the core driven from a shell, for scripts and production lines.
#include <iostream>
#include <string>

#include "cli/cli_context.h"

namespace tarvix::cli {
namespace {

void PrintHelp() {
  std::cout << "usage: tarvix-cli [global options] COMMAND [args]\n"
               "global options:\n"
               "  --simulate[=MODEL]     use the simulated programmer with MODEL in its socket\n"
               "  --sim-image FILE       the simulated chip's contents live in FILE\n"
               "  --sim-timing instant|realistic\n"
               "  --database FILE        chip database (default ./database.dat)\n"
               "  --type T --manufacturer M --chip MODEL   select the catalogue record\n"
               "  --yes                  answer every confirmation with OK/Yes\n"
               "  --json                 print results as JSON\n"
               "  --trace FILE           log every USB transfer to FILE\n"
               "commands:\n";
  for (const Command& c : Commands()) std::cout << "  " << c.usage << "\n";
}

// Splits argv into global options, the command name and its arguments.
int ParseArguments(int argc, char** argv, Options& o) {
  int i = 1;
  auto value = [&](const std::string& name, std::string& out) {
    if (i + 1 >= argc) return false;
    out = argv[++i];
    (void)name;
    return true;
  };
  for (; i < argc; ++i) {
    const std::string a = argv[i];
    std::string v;
    if (a == "--help" || a == "-h") {
      PrintHelp();
      return -1;
    } else if (a == "--simulate") {
      o.simulate = true;
    } else if (a.rfind("--simulate=", 0) == 0) {
      o.simulate = true;
      o.sim_model = a.substr(11);
    } else if (a == "--sim-image") {
      if (!value(a, o.sim_image)) return UsageError("--sim-image needs a file");
    } else if (a == "--sim-timing") {
      if (!value(a, o.sim_timing) || (o.sim_timing != "instant" && o.sim_timing != "realistic"))
        return UsageError("--sim-timing takes instant or realistic");
    } else if (a == "--database") {
      if (!value(a, o.database)) return UsageError("--database needs a file");
    } else if (a == "--type") {
      if (!value(a, v)) return UsageError("--type needs a type");
      o.type = v;
    } else if (a == "--manufacturer") {
      if (!value(a, v)) return UsageError("--manufacturer needs a manufacturer");
      o.manufacturer = v;
    } else if (a == "--chip") {
      if (!value(a, v)) return UsageError("--chip needs a model");
      o.chip = v;
    } else if (a == "--yes") {
      o.yes = true;
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "--trace") {
      if (!value(a, o.trace)) return UsageError("--trace needs a file");
    } else if (a.rfind("--", 0) == 0 && o.command.empty()) {
      return UsageError("unknown option " + a);
    } else if (o.command.empty()) {
      o.command = a;
    } else {
      o.args.push_back(a);
    }
  }
  return 0;
}

int Main(int argc, char** argv) {
  Options options;
  if (const int status = ParseArguments(argc, argv, options); status != 0)
    return status < 0 ? kExitOk : status;
  if (options.command.empty()) return UsageError("no command given");
  // Two-word commands ("db pack") take precedence over one-word ones.
  const Command* found = nullptr;
  for (const Command& c : Commands()) {
    if (!options.args.empty() && c.name == options.command + " " + options.args.front()) {
      found = &c;
      break;
    }
  }
  if (found != nullptr) {
    options.args.erase(options.args.begin());
  } else {
    for (const Command& c : Commands())
      if (c.name == options.command) found = &c;
  }
  if (found == nullptr) return UsageError("unknown command " + options.command);
  Context context(std::move(options));
  return found->run(context);
}

}  // namespace
}  // namespace tarvix::cli

int main(int argc, char** argv) {
  return tarvix::cli::Main(argc, argv);
}
