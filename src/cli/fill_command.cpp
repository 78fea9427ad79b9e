// SPDX-License-Identifier: GPL-3.0-or-later
// fill ADDR LEN DATA: chip fill, run through the same Program (start-up recognition,
// worker, after-run steps) as the window's "Fill chip data" dialog. ADDR is
// hexadecimal, LEN decimal, DATA hexadecimal: one byte, or on a 16-bit chip a word
// (ADDR and LEN then count words).
#include <iostream>
#include <memory>
#include <string>

#include "cli/chip_session.h"
#include "cli/cli_context.h"
#include "operations/chip_fill.h"

namespace tarvix::cli {
namespace {

namespace w = worker_command;

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

  if (!c.CheckFiles({}, {}, true, true)) return kExitFailed;
  std::unique_ptr<ChipSession> session = ChipSession::Open(c, true);
  if (!session) return kExitFailed;
  ChipSession& s = *session;
  Program& program = s.program();
  const Options& o = c.options();
  s.StartUp();
  if (s.Interrupted()) return s.InterruptedExit();
  if (!s.ChipSettled()) {
    if (o.json)
      std::cout << "{\"ok\":false,\"status\":" << JsonString(s.host().LastStatus())
                << ",\"identified\":false}\n";
    return kExitFailed;
  }

  // The dialog opens for the chip now selected: one data byte, or a word.
  ChipFillDialog& dialog = program.ChipFill();
  dialog.Open(program.Packet());
  FillFields fields;
  fields.address = args[0];
  fields.length = args[1];
  if (dialog.ShowsWordField()) {
    fields.data_word = args[2];
  } else if (args[2].size() > FillFieldLimit(FillField::kDataByte)) {
    return UsageError(
        "DATA is one byte (two hexadecimal digits) for this chip; a word (four) "
        "only for a 16-bit chip");
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
    s.host().BreakLine();
    std::cerr << "State: " << line << std::endl;
  });
  if (!dialog.Accept(s.host())) return kExitFailed;
  // The fill rewrites the chip in place, as write does: ask first.
  const ChipRecord* record = program.Selection().CurrentRecord();
  const std::string unit = dialog.ShowsWordField() ? " word(s)" : " byte(s)";
  if (!s.host().Confirm("chip datas from address " + args[0] + " (hex), " + args[1] + unit +
                        (record != nullptr ? " of " + record->model : std::string()) +
                        ", will be overwritten with " + args[2] + " ! continue ?"))
    return kExitFailed;

  bool ok = false;
  s.Run(w::kChipFill, [&] { ok = RunChipFill(s.ctx(), dialog); });
  dialog.SetListener(nullptr);
  const bool interrupted = s.Interrupted();
  if (interrupted) ok = false;

  const std::string state_line = dialog.StateLine();
  s.host().BreakLine();
  if (o.json) {
    std::cout << "{\"ok\":" << JsonBool(ok) << ",\"status\":" << JsonString(s.host().LastStatus())
              << ",\"state\":" << JsonString(state_line)
              << ",\"address\":" << JsonString(fields.address)
              << ",\"length\":" << JsonString(fields.length) << ",\"data\":" << JsonString(args[2])
              << ",\"words\":" << JsonBool(dialog.ShowsWordField())
              << (interrupted ? ",\"interrupted\":true" : "") << "}\n";
  } else {
    std::cout << state_line << "\n";
  }
  if (interrupted) return s.InterruptedExit();
  return ok ? kExitOk : kExitFailed;
}

const Registration kFill{
    {"fill",
     "fill ADDR LEN DATA     chip fill: LEN (decimal) units from ADDR (hex) get DATA; DATA\n"
     "                         is one byte (two hex digits), or one word (up to four) on a\n"
     "                         16-bit chip, where ADDR and LEN count words",
     Fill}};

}  // namespace
}  // namespace tarvix::cli
