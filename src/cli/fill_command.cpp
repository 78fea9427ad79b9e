// fill ADDR LEN DATA: chip fill, run through the same Program (start-up recognition,
// worker, after-run steps) as the window's "Fill chip data" dialog. ADDR is
// hexadecimal, LEN decimal, DATA hexadecimal; on a 16-bit chip ADDR and LEN count
// words and DATA is a word.
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>

#include "app/program.h"
#include "cli/cli_context.h"
#include "cli/cli_host.h"
#include "cli/device_setup.h"
#include "operations/chip_fill.h"

namespace tarvix::cli {
namespace {

namespace w = worker_command;

std::string JsonBool(bool b) {
  return b ? "true" : "false";
}

// A field as the dialog would hold it after typing; an error text when the dialog
// would have refused a character or the field is longer than it takes.
std::string CheckField(FillField field, const std::string& text, const char* name,
                       const char* what) {
  const FillFieldEdit edit = CheckFillFieldEdit(field, text, text.size());
  if (text.empty() || edit.rejected || edit.text.size() != text.size())
    return std::string(name) + " is " + what + ", at most " +
           std::to_string(FillFieldLimit(field)) + " digits";
  return {};
}

int Fill(Context& c) {
  const auto& args = c.options().args;
  if (args.size() != 3) return UsageError("fill needs ADDR LEN DATA");
  for (const std::string& error :
       {CheckField(FillField::kAddress, args[0], "ADDR", "hexadecimal"),
        CheckField(FillField::kLength, args[1], "LEN", "decimal"),
        CheckField(FillField::kDataWord, args[2], "DATA", "hexadecimal")})
    if (!error.empty()) return UsageError(error);

  if (c.catalogue().Count() == 0 && !c.LoadCatalogue()) return kExitFailed;
  std::optional<Device> device = MakeDevice(c);
  if (!device) return kExitFailed;

  CliHost host(CliHostOptions::FromTerminal(c.options().yes));
  ProgramOptions options;
  options.base = std::filesystem::current_path();
  options.catalogue = &c.catalogue();
  options.worker_thread = false;
  options.device_change_notices = false;
  Program program(options, *device->backend, *device->clock, host);
  Worker& worker = program.TheWorker();
  program.StartUp();
  const Options& o = c.options();
  if (o.type || o.manufacturer || o.chip) {
    // The record the user named stays selected: no recognition at start-up.
    program.Selection().SelectRecord(c.state().selected_chip_index.load());
    program.State().command_code = w::kIdle;
  } else {
    worker.RunUntilIdle();
  }

  // The dialog opens for the chip now selected: one data byte, or a word.
  ChipFillDialog dialog;
  dialog.Open(program.Packet());
  FillFields fields;
  fields.address = args[0];
  fields.length = args[1];
  if (dialog.ShowsWordField()) {
    fields.data_word = args[2];
  } else if (args[2].size() > FillFieldLimit(FillField::kDataByte)) {
    return UsageError("DATA is one byte (two hexadecimal digits) for this chip");
  } else {
    fields.data_byte = args[2];
  }
  dialog.SetFields(fields);

  // The state line on stderr; the dots of a long fill only on a terminal's bar.
  std::string shown;
  dialog.SetListener([&] {
    const std::string line = dialog.StateLine();
    const bool dots =
        line.rfind(fill_text::kFilling, 0) == 0 && shown.rfind(fill_text::kFilling, 0) == 0;
    if (line == shown || dots) return;
    shown = line;
    std::cerr << "State: " << line << std::endl;
  });
  if (!dialog.Accept(host)) return kExitFailed;

  bool ok = false;
  program.SetOperation(w::kChipFill, [&] { ok = RunChipFill(program.Context(), dialog); });
  worker.Give(w::kChipFill);
  worker.RunUntilIdle();

  const std::string state_line = dialog.StateLine();
  if (o.json) {
    std::cout << "{\"ok\":" << JsonBool(ok) << ",\"status\":" << JsonString(host.LastStatus())
              << ",\"state\":" << JsonString(state_line)
              << ",\"address\":" << JsonString(fields.address)
              << ",\"length\":" << JsonString(fields.length) << ",\"data\":" << JsonString(args[2])
              << ",\"words\":" << JsonBool(dialog.ShowsWordField()) << "}\n";
  } else {
    std::cout << state_line << "\n";
  }
  return ok ? kExitOk : kExitFailed;
}

const Registration kFill{
    {"fill", "fill ADDR LEN DATA     chip fill (hex address, decimal length, hex data)", Fill}};

}  // namespace
}  // namespace tarvix::cli
