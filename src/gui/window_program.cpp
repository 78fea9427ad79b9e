// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/window_program.h"

#include <QApplication>
#include <QByteArray>
#include <QFileInfo>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/program.h"
#include "gui/gui_options.h"
#include "gui/main_window.h"
#include "gui/qt_host.h"
#include "gui/simulator_menu.h"
#include "gui/window_fonts.h"
#include "sim/sim_setup.h"
#ifdef TARVIX_HAVE_LIBUSB
#include "device/libusb/libusb_backend.h"
#endif

namespace tarvix::gui {
namespace {

std::string g_program_name = "tarvix";

struct HeldMessage {
  QtMsgType type;
  QByteArray category;
  QString text;
};
std::vector<HeldMessage>* g_held = nullptr;

// While the platform starts: its complaints about a display wait to be seen, and its
// abort for want of one becomes one line and exit status 1.
void PlatformStartMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtFatalMsg) {
    std::fprintf(stderr, "%s: %s\n", g_program_name.c_str(), kNoDisplay);
    std::fflush(nullptr);
    std::_Exit(1);
  }
  if (g_held != nullptr)
    g_held->push_back({type, QByteArray(context.category ? context.category : ""), text});
}

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// A platform named outright (offscreen, vnc ...) needs no display server.
bool MayHaveDisplay() {
  return Set("QT_QPA_PLATFORM") || Set("DISPLAY") || Set("WAYLAND_DISPLAY");
}

std::unique_ptr<QApplication> StartApplication(int& argc, char** argv) {
  std::vector<HeldMessage> held;
  g_held = &held;
  const QtMessageHandler previous = qInstallMessageHandler(PlatformStartMessages);
  auto app = std::make_unique<QApplication>(argc, argv);
  qInstallMessageHandler(previous);
  g_held = nullptr;
  // The platform started after all: what it said is said as usual.
  for (const HeldMessage& m : held) {
    const QMessageLogContext context(nullptr, 0, nullptr, m.category.constData());
    qt_message_output(m.type, context, m.text);
  }
  return app;
}

}  // namespace

int RunWindowProgram(int argc, char** argv, const AfterStart& after_start) {
  if (argc > 0 && argv[0] != nullptr)
    g_program_name = std::filesystem::path(argv[0]).filename().string();
  const char* name = g_program_name.c_str();
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  std::string error;
  const auto options = ParseGuiOptions(args, &error);
  if (!options) {
    std::fprintf(stderr, "%s: %s\n%s", name, error.c_str(), kGuiUsage);
    return 2;
  }
  if (options->help) {
    std::fputs(kGuiUsage, stdout);
    return 0;
  }
  if (!MayHaveDisplay()) {
    std::fprintf(stderr, "%s: %s\n", name, kNoDisplay);
    return 1;
  }

  const std::unique_ptr<QApplication> app = StartApplication(argc, argv);
  QApplication::setApplicationName("tarvix");
  UseWindowFonts(*app);

  QtHost host;
  // One copy per user, and none beside the sibling program.
  const auto guard = PassStartUpGuards(host);
  if (!guard) return 0;

  const std::filesystem::path base = std::filesystem::current_path();
  std::unique_ptr<Clock> clock;
  std::unique_ptr<UsbBackend> backend;
  std::unique_ptr<sim::SimBus> bus;
  ChipCatalogue sim_catalogue;
  if (options->simulate) {
    // The simulated chip is made from the same catalogue the window lists.
    sim::SimulatorOptions sim_options = options->sim;
    std::error_code ec;
    if (std::filesystem::exists(base / "database.dat", ec))
      sim_catalogue.Load(base / "database.dat", [](std::string_view, std::string_view) {});
    if (sim_catalogue.Count() == 0 && sim_options.model.empty()) sim_options.model = "none";
    auto simulator = sim::MakeSimulator(sim_catalogue, sim_options, &error);
    if (!simulator) {
      std::fprintf(stderr, "%s: %s\n", name, error.c_str());
      return 2;
    }
    clock = std::move(simulator->clock);
    bus = std::move(simulator->bus);
    backend = std::move(simulator->backend);
  } else {
#ifdef TARVIX_HAVE_LIBUSB
    clock = std::make_unique<SteadyClock>();
    backend = std::make_unique<LibusbBackend>();
#else
    std::fprintf(stderr,
                 "%s: real programmer support is not built (libusb-1.0 was missing); "
                 "--simulate runs the simulated programmer\n",
                 name);
    return 2;
#endif
  }

  ProgramOptions program_options;
  program_options.base = base;
  Program program(program_options, *backend, *clock, host);
  MainWindow window(program, host);
  SimulatorMenu* simulator_menu = nullptr;
  if (bus) {
    simulator_menu = new SimulatorMenu(*bus, sim_catalogue, &window);
    window.AddMenu(simulator_menu);
  }
  window.show();
  program.StartUp();
  // Device changes reach the worker from the window thread, as the system's notice does.
  window.RouteDeviceChanges(*backend);

  std::function<int()> result;
  if (after_start) result = after_start(window, simulator_menu);
  const int loop_result = QApplication::exec();
  return result ? result() : loop_result;
}

}  // namespace tarvix::gui
