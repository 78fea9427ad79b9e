// SPDX-License-Identifier: GPL-3.0-or-later
// Program: everything the main window owns, without the window. The window and the
// command-line tool each build one over their own Host, USB backend and clock, run
// its start-up, and drive it through the worker, the operation commands and the
// close entry points. Nothing is freed before the program ends.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include "app/bulk_mode.h"
#include "app/help_contents.h"
#include "app/instance_guard.h"
#include "app/operation_buttons.h"
#include "app/production_setup.h"
#include "app/program_production.h"
#include "app/settings.h"
#include "app/worker.h"
#include "buffer/change_log.h"
#include "buffer/find_datas.h"
#include "buffer/hex_page.h"
#include "buffer/image_buffer.h"
#include "buffer/load_save.h"
#include "catalogue/chip_catalogue.h"
#include "catalogue/chip_selection.h"
#include "device/clock.h"
#include "device/command_packet.h"
#include "device/host_model.h"
#include "device/usb_backend.h"
#include "device/usb_link.h"
#include "firmware/firmware_upgrade.h"
#include "net/update_check.h"
#include "operations/chip_fill.h"
#include "operations/operation_context.h"
#include "operations/view_data.h"
#include "state/main_state.h"

namespace tarvix {

inline constexpr char kDatabaseMissing[] = "cannot find database file ";
inline constexpr char kCloseWhileErasing[] = "chip is erasing,still exist?      ";
inline constexpr char kCloseWhileWriting[] = "chip is writing,still exist?      ";
inline constexpr char kCloseWhileVerifying[] = "file is verifying,still exist?      ";
inline constexpr char kCloseWhileReading[] = "chip is reading,still exist?      ";
// A command given while the worker runs another (see GiveWhenIdle).
inline constexpr char kProgrammerBusy[] =
    "programmer is busy! please wait for the operation to end";

// The single-instance and sibling-program guards of process start. Returns the
// program's lock, held for the life of the process, or null after showing why the
// program must not start.
[[nodiscard]] std::unique_ptr<InstanceGuard> PassStartUpGuards(Host& host);

struct ProgramOptions {
  std::filesystem::path base;      // the current directory at start-up
  std::filesystem::path database;  // empty: base / "database.dat"
  // A catalogue the front end has loaded already (the command-line tool's --database);
  // copied instead of loading `database`.
  const ChipCatalogue* catalogue = nullptr;
  // The worker on its own thread (the window). Without it the caller runs the worker
  // itself with Worker::RunUntilIdle (the command-line tool).
  bool worker_thread = true;
  // Device-change notices of the backend reach the worker (a one-shot command-line
  // run has no use for them: the command it was given must not be replaced).
  bool device_change_notices = true;
  // The window's private files: the settings file created and written, the change
  // log prepared. Off (the command line), the settings file is only read, when it is
  // there, and start-up makes no file.
  bool window_files = true;
};

class Program {
 public:
  // `host` is the front end's reporting model; `backend` and `clock` outlive the program.
  Program(ProgramOptions options, UsbBackend& backend, Clock& clock, HostModel& host);
  // Stops the worker (exit request) and waits for it.
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Start-up after the window's controls exist: settings, change log, link, packet
  // marks, catalogue and lists, then the worker with command 7 (a silent recognition).
  void StartUp();

  // The system's device-change notice.
  void DeviceChangeNotice() { worker_.DeviceChangeNotice(); }

  // The window's close request. Asks before abandoning a running erase, write, verify
  // or read; Cancel returns false and leaves everything running. Otherwise the running
  // operation is asked to stop, the worker ends, the link and the working copy are
  // closed and the scratch file and an empty temp folder removed; returns true.
  // The worker is waited for before the link and the working copy close, so the
  // front end's Host must not block on its window thread meanwhile (a window uses the
  // two halves below and keeps its event loop running in between).
  bool CloseWindow();
  // First half: the questions, then a stop request for every running operation (and
  // the programmer told to end where a question says so), bulk mode off and the
  // worker asked to end. Returns without waiting; false on Cancel.
  bool BeginClose();
  // True once the worker loop has ended (or was never started on its own thread).
  [[nodiscard]] bool WorkerEnded() const { return !worker_started_ || worker_.Ended(); }
  // Second half, once the worker has ended: link, working copy, scratch file, folder.
  void FinishClose();
  // File > "E&xist": the program ends as it is, without questions or clean-up. The
  // front end ends the process at once (the worker may still be running).
  void Exist() { exist_requested_ = true; }
  [[nodiscard]] bool ExistRequested() const { return exist_requested_; }

  // A front end's own routine for a command (a dialog's arguments, a view of its own).
  void SetOperation(WorkerCommand code, Worker::Operation operation) {
    worker_.SetOperation(code, std::move(operation));
  }
  // A command of the window's menus or dialogs (firmware version, chip fill, firmware
  // upgrade), on the window thread: handed to the worker when it is idle; while an
  // operation or bulk mode has the programmer it is refused with a red line (it would
  // otherwise be lost, or take the next bulk chip's turn). True when handed over.
  bool GiveWhenIdle(WorkerCommand code);
  // View Data's OK (or Enter), on the window thread: the address check and the file
  // side at once; the chip side on the worker when it is idle, else reported busy
  // (a running operation or bulk mode keeps the programmer to itself).
  void ViewDataOk();
  // Help > "&Contents": the manual opened with `open_with_viewer`, else shown by
  // `show_here`; "not find file" when there is none.
  void ShowHelpContents(const std::function<bool(const std::filesystem::path&)>& open_with_viewer,
                        const ShowManualHere& show_here = {});
  // The update check's firmware byte (code 18), read on the worker so it never meets
  // an operation on the link; call it off the window thread. `busy` when the worker
  // was not idle or took another command first; nothing when the programmer does not
  // answer or `control` runs out.
  [[nodiscard]] FirmwareByteReply FirmwareByteForUpdateCheck(ExchangeControl& control);

  // The hex view calls of the search; the default hands each one to the HexPage
  // through the Host's window call, where the page lives.
  void SetFindView(FindView* view) { find_view_ = view; }

  [[nodiscard]] MainState& State() { return state_; }
  [[nodiscard]] const Paths& PrivatePaths() const { return state_.paths; }
  [[nodiscard]] ChipCatalogue& Catalogue() { return *catalogue_; }
  [[nodiscard]] CommandPacket& Packet() { return packet_; }
  [[nodiscard]] ChipSelection& Selection() { return selection_; }
  [[nodiscard]] Settings& SettingsMenu() { return settings_; }
  [[nodiscard]] UsbLink& Link() { return link_; }
  [[nodiscard]] ImageBuffer& Image() { return image_; }
  [[nodiscard]] HexPage& Hex() { return hex_; }
  [[nodiscard]] ChangeLog& OperationLog() { return change_log_; }
  [[nodiscard]] FileLoadSave& Files() { return files_; }
  [[nodiscard]] FindState& Find() { return find_; }
  // The dialogs whose fields the worker reads and whose state lines it writes; they
  // live as long as the program so the worker never writes into a closed one.
  [[nodiscard]] ChipFillDialog& ChipFill() { return chip_fill_; }
  [[nodiscard]] FirmwareUpgradeDialog& Upgrade() { return upgrade_; }
  [[nodiscard]] ViewDataDialog& ViewData() { return view_data_; }
  [[nodiscard]] Worker& TheWorker() { return worker_; }
  [[nodiscard]] BulkMode& Bulk() { return bulk_; }
  [[nodiscard]] OperationCommands& Buttons() { return buttons_; }
  [[nodiscard]] HostModel& ReportingHost() { return host_; }
  [[nodiscard]] Clock& TheClock() { return clock_; }
  // The buses the link looks at (a gang's links look at them too).
  [[nodiscard]] UsbBackend& Backend() { return backend_; }
  [[nodiscard]] OperationContext& Context() { return ctx_; }
  // Production: the operator's lot and serial numbers (the window's log beside its
  // other files), the loaded image's checksums, and what production adds to the
  // chip operations (the chip's sums, the difference list, the log).
  [[nodiscard]] ProductionSetup& Production() { return production_setup_; }
  [[nodiscard]] ImageChecksums& ImageSums() { return image_sums_; }
  [[nodiscard]] ProgramProduction& ChipProduction() { return production_; }

 private:
  void LoadCatalogue();
  void InstallOperations();
  // The routine of a command of WorkerCommandTable, with its flag.
  void RunOperation(WorkerCommand code, bool flag);
  void SendEndOfRun(int timeout_ms);
  void RunFirmwareVersion();

  struct QuietVersionRequest;

  ProgramOptions options_;
  UsbBackend& backend_;
  Clock& clock_;
  HostModel& host_;
  MainState state_;
  std::unique_ptr<ChipCatalogue> catalogue_;
  CommandPacket packet_;
  ChipSelection selection_;
  Settings settings_;
  UsbLink link_;
  ProductionSetup production_setup_;
  // Before the image, which tells it of every load and edit until its very end.
  ImageChecksums image_sums_;
  ImageBuffer image_;
  HexPage hex_;
  ChangeLog change_log_;
  FileLoadSave files_;
  FindState find_;
  ChipFillDialog chip_fill_;
  FirmwareUpgradeDialog upgrade_;
  ViewDataDialog view_data_;
  std::unique_ptr<FindView> page_find_view_;
  std::unique_ptr<FindView> window_find_view_;
  FindView* find_view_ = nullptr;
  OperationContext ctx_;
  ProgramProduction production_;
  bool exist_requested_ = false;
  bool worker_started_ = false;
  // The update check's pending firmware-byte request, taken by the next code 18.
  std::mutex quiet_version_mutex_;
  std::shared_ptr<QuietVersionRequest> quiet_version_;
  // Last: the worker stops before anything it uses goes.
  Worker worker_;
  BulkMode bulk_;
  OperationCommands buttons_;
};

}  // namespace tarvix
