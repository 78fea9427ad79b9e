// SPDX-License-Identifier: GPL-3.0-or-later
// The window's figures, printed one per line:
//   start-up: process start to the first painted frame of the main window
//   stall: the longest gap of a 1 ms timer on the window thread while a 2 MiB write
//          runs on the realistic simulator (goal: under 50 ms)
//   repaint: page refresh plus grid repaint after a jump to the last page of a 4 GiB
//            image (goal: under 2 ms)
//   memory: peak resident memory with the 4 GiB image loaded (goal: flat)
// Run in a scratch folder; it writes the 4 GiB image there (sparse) and its working copy.
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "app/program.h"
#include "gui/hex_grid.h"
#include "gui/main_window.h"
#include "gui/qt_host.h"
#include "sim/sim_setup.h"
#include "state/control_ids.h"

using namespace tarvix;

namespace {

double ProcessAgeMs() {
  // Start time of this process from /proc, against the boot clock.
  std::ifstream stat("/proc/self/stat");
  std::string field;
  for (int i = 0; i < 22 && stat >> field; ++i) {
  }
  const double start_s = std::stod(field) / static_cast<double>(sysconf(_SC_CLK_TCK));
  timespec now{};
  clock_gettime(CLOCK_BOOTTIME, &now);
  return (now.tv_sec + now.tv_nsec / 1e9 - start_s) * 1000.0;
}

class FirstPaint : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint && age_ms < 0) age_ms = ProcessAgeMs();
    return false;
  }
  double age_ms = -1;
};

long PeakKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const std::filesystem::path base = std::filesystem::current_path();
  if (!std::filesystem::exists(base / "database.dat"))
    std::filesystem::copy_file(TARVIX_DATABASE_DAT, base / "database.dat");
  ChipCatalogue catalogue;
  catalogue.Load(base / "database.dat", [](std::string_view, std::string_view) {});
  std::string error;
  auto simulator =
      sim::MakeSimulator(catalogue, {"S25FL064L", "", sim::Timing::kRealistic}, &error);
  if (!simulator) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  gui::QtHost host;
  host.SetBoxPresenter([](QWidget*, const QString&, const QString&, BoxIcon, BoxButtons b) {
    return b == BoxButtons::kYesNo || b == BoxButtons::kYesNoCancel ? BoxAnswer::kYes
                                                                    : BoxAnswer::kOk;
  });
  host.SetSoundSink([](const std::filesystem::path&) {});
  ProgramOptions options;
  options.base = base;
  Program program(options, *simulator->backend, *simulator->clock, host);
  gui::MainWindow window(program, host);
  FirstPaint paint;
  window.installEventFilter(&paint);
  window.show();
  program.StartUp();
  (void)QTest::qWaitFor([&] { return paint.age_ms >= 0; }, 10000);
  std::printf("start-up to first paint: %.1f ms\n", paint.age_ms);
  (void)QTest::qWaitFor([&] { return program.TheWorker().Idle(); }, 20000);

  // Stall probe during a 2 MiB write.
  const auto image = base / "bench-2mib.bin";
  {
    std::ofstream out(image, std::ios::binary);
    for (int i = 0; i < 2 * 1024 * 1024; ++i) out.put(static_cast<char>(i * 13));
  }
  (void)program.Files().Load(image, true);
  QElapsedTimer clock;
  qint64 last = 0, longest = 0, longest_at = 0;
  int over_16ms = 0;
  QTimer probe;
  probe.setTimerType(Qt::PreciseTimer);
  QObject::connect(&probe, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    if (last != 0 && now - last > longest) {
      longest = now - last;
      longest_at = now;
    }
    if (last != 0 && now - last > 16'000'000) ++over_16ms;
    last = now;
  });
  window.DispatchCommand(control_id::kWrite);
  (void)QTest::qWaitFor([&] { return program.State().busy_writing.load() != 0; }, 20000);
  clock.start();
  probe.start(1);
  QElapsedTimer write_time;
  write_time.start();
  (void)QTest::qWaitFor([&] { return program.State().busy_writing.load() == 0; }, 120000);
  probe.stop();
  std::printf(
      "2 MiB realistic write: %.1f s, longest window-thread stall: %.2f ms (at %.2f s), "
      "%d gaps over 16 ms\n",
      write_time.elapsed() / 1000.0, longest / 1e6, longest_at / 1e9, over_16ms);
  (void)QTest::qWaitFor([&] { return program.TheWorker().Idle(); }, 20000);

  // 4 GiB image: the last page.
  const auto big = base / "bench-4gib.bin";
  {
    std::ofstream out(big, std::ios::binary);
    out.seekp((std::int64_t{4} << 30) - 1);
    out.put('\x5A');
  }
  const long before = PeakKiB();
  if (!program.Files().Load(big, true)) {
    std::fprintf(stderr, "cannot load the 4 GiB image\n");
    return 1;
  }
  QApplication::processEvents();
  const std::uint64_t last_top = program.Image().ScrollRows() - kHexRows;
  double best = 1e9, total = 0;
  constexpr int kRounds = 50;
  for (int i = 0; i < kRounds; ++i) {
    program.Image().SetTopRow(i % 2 == 0 ? last_top : last_top - 100);
    QElapsedTimer t;
    t.start();
    (void)program.Hex().Refresh();
    window.Grid()->repaint();
    const double ms = t.nsecsElapsed() / 1e6;
    best = std::min(best, ms);
    total += ms;
  }
  std::printf("grid refresh + repaint on the last page of 4 GiB: %.3f ms (best %.3f ms)\n",
              total / kRounds, best);
  std::printf("peak memory: %ld KiB before the 4 GiB load, %ld KiB after\n", before, PeakKiB());
  window.close();
  std::filesystem::remove(big);
  std::filesystem::remove(image);
  return 0;
}
