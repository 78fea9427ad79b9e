// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/gui_options.h"

namespace tarvix::gui {

std::optional<GuiOptions> ParseGuiOptions(const std::vector<std::string>& args,
                                          std::string* error) {
  GuiOptions o;
  const auto fail = [error](std::string why) {
    if (error != nullptr) *error = std::move(why);
    return std::nullopt;
  };
  bool image_given = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    // "--name=value" or "--name value".
    const auto value = [&](const std::string& name, std::string* out) {
      if (a.rfind(name + "=", 0) == 0) {
        *out = a.substr(name.size() + 1);
        return true;
      }
      if (a == name && i + 1 < args.size()) {
        *out = args[++i];
        return true;
      }
      return false;
    };
    std::string v;
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--simulate") {
      o.simulate = true;
    } else if (a.rfind("--simulate=", 0) == 0) {
      o.simulate = true;
      o.sim.model = a.substr(11);
    } else if (a.rfind("--sim-image", 0) == 0) {
      if (!value("--sim-image", &v) || v.empty()) return fail("--sim-image needs a file name");
      o.sim.image = v;
      image_given = true;
    } else if (a.rfind("--sim-timing", 0) == 0) {
      if (!value("--sim-timing", &v)) return fail("--sim-timing needs instant or realistic");
      const auto timing = sim::ParseTiming(v);
      if (!timing) return fail("--sim-timing: \"" + v + "\" is neither instant nor realistic");
      o.sim.timing = *timing;
    } else if (a.rfind("--sim-programmers", 0) == 0) {
      if (!value("--sim-programmers", &v) || v.empty() || v.size() > 2 ||
          v.find_first_not_of("0123456789") != std::string::npos || std::stoi(v) < 1 ||
          std::stoi(v) > sim::kMaxSimulatedProgrammers)
        return fail("--sim-programmers takes a number from 1 to 32");
      o.sim.programmers = std::stoi(v);
    } else {
      return fail("unknown option \"" + a + "\"");
    }
  }
  if (image_given && !o.simulate) return fail("--sim-image needs --simulate");
  return o;
}

}  // namespace tarvix::gui
