// SPDX-License-Identifier: GPL-3.0-or-later
// check-new: the update check; feedback: the feedback mail. Both run the same core
// exchanges as the window's "Check New" and "Feedback".
#include <unistd.h>

#include <atomic>
#include <iostream>
#include <optional>

#include "cli/chip_session.h"
#include "cli/cli_context.h"
#include "cli/cli_host.h"
#include "cli/device_setup.h"
#include "cli/interrupt_watch.h"
#include "device/usb_link.h"
#include "net/feedback.h"
#include "net/update_check.h"

namespace tarvix::cli {
namespace {

// Step lines on stderr while an exchange works, when someone is watching.
ExchangeControl::StepSink StepPrinter() {
  if (::isatty(STDERR_FILENO) != 1) return {};
  return [last = std::string()](std::string_view step) mutable {
    if (step == last) return;
    last = step;
    std::cerr << "... " << step << "\n";
  };
}

// Ctrl-C ends the exchange at its next wait, as it does every other command's work.
struct ExchangeInterrupt {
  std::atomic<bool> cancel{false};
  InterruptWatch watch{[this] { cancel.store(true); }, {}};
};

int InterruptedExit() {
  std::cerr << kInterrupted << "\n";
  return kExitInterrupted;
}

// Takes "NAME VALUE" from `args`; false with a usage error when VALUE is missing.
bool TakeValue(const std::vector<std::string>& args, std::size_t& i, std::string& out) {
  if (i + 1 >= args.size()) return false;
  out = args[++i];
  return true;
}

int CheckNew(Context& c) {
  UpdateCheckConfig config = UpdateCheckConfig::Default();
  const auto& args = c.options().args;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--url") {
      if (!TakeValue(args, i, config.url)) return UsageError("--url needs an address");
    } else {
      return UsageError("check-new takes only --url URL");
    }
  }
  if (!c.CheckFiles({}, {}, true, true)) return kExitFailed;
  CliHost host(CliHostOptions::FromTerminal(c.options().yes), SystemLocalTime, &c.state());
  // The programmer is looked for only once the document is in, as the window does.
  std::optional<Device> device;
  FirmwareByteSource firmware = [&](ExchangeControl&) {
    FirmwareByteReply reply;
    device = MakeDevice(c);
    if (!device) return reply;
    UsbLink link(*device->backend, host, c.state());
    link.SetLinkParameters();
    reply.byte = ReadFirmwareVersionByte(link, c.packet());
    if (link.IsOpen()) link.CloseDevice();
    return reply;
  };
  ExchangeInterrupt interrupt;
  ExchangeControl control(config.timeout, &interrupt.cancel, StepPrinter());
  const UpdateCheckResult r = RunUpdateCheck(config, firmware, control);
  if (device && !FinishTrace(*device, c.options())) c.FailAfterwards();
  if (r.cancelled) return InterruptedExit();
  ShowUpdateCheckBoxes(r, host);

  std::vector<std::string> lines;
  if (r.ok)
    for (const std::string& line : r.lines.InOrder()) lines.push_back(WithoutLineEnd(line));
  if (c.options().json) {
    std::string error = r.boxes.empty() ? std::string() : r.boxes.front().text;
    std::cout << "{\"ok\":" << JsonBool(r.ok) << ",\"status\":" << JsonString(host.LastStatus())
              << ",\"lines\":[";
    for (std::size_t i = 0; i < lines.size(); ++i)
      std::cout << (i ? "," : "") << JsonString(lines[i]);
    std::cout << "],\"http_status\":" << r.http_status
              << ",\"error_code\":" << (r.ok ? 0u : r.http_status)
              << ",\"error\":" << JsonString(error) << ",\"link\":" << JsonString(r.link_url)
              << ",\"firmware_byte\":"
              << (r.firmware.byte ? std::to_string(*r.firmware.byte) : "null") << "}\n";
  } else {
    for (const std::string& line : lines) std::cout << line << "\n";
  }
  return r.ok ? kExitOk : kExitFailed;
}

// "HOST:PORT" or "HOST" (port 25).
bool ParseServer(const std::string& text, FeedbackConfig& config) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos) {
    config.server = text;
    config.port = kMailPort;
    return !text.empty();
  }
  const std::string port = text.substr(colon + 1);
  if (colon == 0 || port.empty() || port.size() > 5 ||
      port.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const unsigned long value = std::stoul(port);
  if (value == 0 || value > 65535) return false;
  config.server = text.substr(0, colon);
  config.port = static_cast<std::uint16_t>(value);
  return true;
}

int Feedback(Context& c) {
  FeedbackConfig config = FeedbackConfig::Default();
  FeedbackForm form;
  bool have_problem = false;
  const auto& args = c.options().args;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string value;
    if (args[i] == "--problem") {
      if (!TakeValue(args, i, form.problem)) return UsageError("--problem needs a text");
      have_problem = true;
    } else if (args[i] == "--theme") {
      if (!TakeValue(args, i, form.theme)) return UsageError("--theme needs a text");
    } else if (args[i] == "--contact") {
      if (!TakeValue(args, i, form.contact)) return UsageError("--contact needs a text");
    } else if (args[i] == "--server") {
      if (!TakeValue(args, i, value) || !ParseServer(value, config))
        return UsageError("--server takes HOST:PORT");
    } else if (args[i] == "--cafile") {
      if (!TakeValue(args, i, config.ca_file)) return UsageError("--cafile needs a file");
    } else if (args[i] == "--allow-plain-login") {
      config.allow_plain_login = true;
    } else {
      return UsageError("feedback: unknown argument " + args[i]);
    }
  }
  if (!have_problem) return UsageError("feedback needs --problem TEXT");
  if (!config.ca_file.empty() && !c.CheckFiles({{"--cafile", config.ca_file}}, {}, false, false))
    return kExitFailed;

  ExchangeInterrupt interrupt;
  ExchangeControl control(config.timeout, &interrupt.cancel, StepPrinter());
  const FeedbackResult r = SendFeedback(form, config, control);
  if (r.cancelled) return InterruptedExit();
  if (c.options().json) {
    std::cout << "{\"ok\":" << JsonBool(r.sent) << ",\"status\":\"\""
              << ",\"error_code\":" << r.error_code << ",\"text\":" << JsonString(r.box.text)
              << ",\"detail\":" << JsonString(r.detail) << ",\"secure\":" << JsonBool(r.secure)
              << "}\n";
  } else {
    std::cout << r.box.text << "\n";
    if (!r.sent && !r.detail.empty()) std::cerr << "tarvix-cli: " << TerminalText(r.detail) << "\n";
  }
  return r.sent ? kExitOk : kExitFailed;
}

const Registration kCheckNew{
    {"check-new", "check-new [--url URL]  newest software and firmware versions", CheckNew}};
const Registration kFeedback{
    {"feedback",
     "feedback --problem TEXT [--theme T] [--contact C] [--server HOST:PORT] [--cafile FILE] "
     "[--allow-plain-login]\n"
     "                         mail a problem report to the maker's support; the login\n"
     "                         goes over STARTTLS only, unless --allow-plain-login (a\n"
     "                         test server)",
     Feedback}};

}  // namespace
}  // namespace tarvix::cli
