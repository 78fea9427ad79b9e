// tarvix: the programmer's window. Finds database.dat, the settings file and the
// sound files in the current directory; --simulate runs it on the simulated programmer.
#include <QApplication>
#include <QFont>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "app/program.h"
#include "gui/gui_options.h"
#include "gui/main_window.h"
#include "gui/qt_host.h"
#include "gui/screenshot_tour.h"
#include "gui/simulator_menu.h"
#include "gui/window_fonts.h"
#include "sim/sim_setup.h"
#ifdef TARVIX_HAVE_LIBUSB
#include "device/libusb/libusb_backend.h"
#endif

using namespace tarvix;

int main(int argc, char** argv) try {
  QApplication app(argc, argv);
  QApplication::setApplicationName("tarvix");
  gui::UseWindowFonts(app);

  std::vector<std::string> args;
  for (const QString& a : QApplication::arguments().mid(1)) args.push_back(a.toStdString());
  std::string error;
  const auto options = gui::ParseGuiOptions(args, &error);
  if (!options) {
    std::fprintf(stderr, "tarvix: %s\n%s", error.c_str(), gui::kGuiUsage);
    return 2;
  }
  if (options->help) {
    std::fputs(gui::kGuiUsage, stdout);
    return 0;
  }

  gui::QtHost host;
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
      std::fprintf(stderr, "tarvix: %s\n", error.c_str());
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
                 "tarvix: real programmer support is not built (libusb-1.0 was missing); "
                 "--simulate runs the simulated programmer\n");
    return 2;
#endif
  }

  int result = 0;
  {
    ProgramOptions program_options;
    program_options.base = base;
    Program program(program_options, *backend, *clock, host);
    gui::MainWindow window(program, host);
    gui::SimulatorMenu* simulator_menu = nullptr;
    if (bus) {
      simulator_menu = new gui::SimulatorMenu(*bus, sim_catalogue, &window);
      window.AddMenu(simulator_menu);
    }
    window.show();
    program.StartUp();
    // Device changes reach the worker from the window thread, as the system's notice does.
    window.RouteDeviceChanges(*backend);

    std::unique_ptr<gui::ScreenshotTour> tour;
    if (!options->screenshots.empty()) {
      tour = std::make_unique<gui::ScreenshotTour>(window, simulator_menu,
                                                   QString::fromStdString(options->screenshots));
      tour->Start();
    }
    result = QApplication::exec();
    if (tour) result = tour->Result();
  }
  return result;
} catch (const std::exception& e) {
  // Whatever slipped through is said in words, never as an abort.
  std::fprintf(stderr, "tarvix: %s\n", e.what());
  return 1;
} catch (...) {
  std::fputs("tarvix: an unexpected error ended the program\n", stderr);
  return 1;
}
