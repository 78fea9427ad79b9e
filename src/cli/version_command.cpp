// version: the programmer's serial number and firmware version.
#include <iostream>

#include "cli/cli_context.h"
#include "cli/cli_host.h"
#include "cli/device_setup.h"
#include "device/usb_link.h"
#include "firmware/firmware_version.h"

namespace tarvix::cli {
namespace {

int Version(Context& c) {
  if (!c.options().args.empty()) return UsageError("version takes no arguments");
  std::optional<Device> device = MakeDevice(c);
  if (!device) return kExitFailed;
  CliHost host(CliHostOptions::FromTerminal(c.options().yes), SystemLocalTime, &c.state());
  UsbLink link(*device->backend, host, c.state());
  link.SetLinkParameters();
  const FirmwareVersionResult r = ShowFirmwareVersion(link, c.packet(), host, c.state());
  if (link.IsOpen()) link.CloseDevice();

  if (c.options().json) {
    std::cout << "{\"ok\":" << (r.ok ? "true" : "false")
              << ",\"status\":" << JsonString(host.LastStatus()) << ",\"version\":"
              << (r.version_byte ? JsonString(FirmwareVersionText(*r.version_byte)) : "null")
              << ",\"serial\":" << (r.serial ? JsonString(SerialText(*r.serial)) : "null")
              << ",\"serial_number\":" << (r.serial ? std::to_string(*r.serial) : "null")
              << ",\"text\":" << JsonString(r.box_text) << "}\n";
  } else if (r.ok) {
    // The box text as the terminal shows it, without the box's opening line break.
    std::string text = TerminalText(r.box_text);
    if (!text.empty() && text.front() == '\n') text.erase(0, 1);
    std::cout << text << "\n";
  }
  return r.ok ? kExitOk : kExitFailed;
}

const Registration kVersion{
    {"version", "version                programmer serial number and firmware version", Version}};

}  // namespace
}  // namespace tarvix::cli
