// SPDX-License-Identifier: GPL-3.0-or-later
// Find datas: searches the image for a byte sequence given as hexadecimal or as
// characters and stops at each match until the dialog says "next" or stop. The scan
// runs on the worker (command 24) and talks to the dialog only through the command
// byte: 24 start, 0 waiting at a match (written by the search), 1 go on, 2 stop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "state/main_state.h"

namespace tarvix {

class Clock;
class HexPage;
class Host;
class ImageBuffer;

inline constexpr WorkerCommand kCommandFind = 24;
inline constexpr WorkerCommand kFindWaiting = 0;
inline constexpr WorkerCommand kFindNext = 1;
inline constexpr WorkerCommand kFindStop = 2;

inline constexpr std::string_view kFindTitle = "Find datas";
inline constexpr std::string_view kFindEmptyAim = "please input data you want to find! ";
inline constexpr std::string_view kFindHexBlank = "please input hex data!   ";
inline constexpr std::string_view kFindHexError = "input hex data error!   ";
inline constexpr std::string_view kFindRamNotEnough = "Ram not enough  ";
inline constexpr std::string_view kFindReachedEnd =
    "file search reach end.\r\ncontinue to search from the begin?";
inline constexpr std::string_view kFindNotFound = "finished.\r\nnot find specify datas      ";
inline constexpr std::string_view kFindReadFailed = "file read failed!   ";

// The scan reads the image in blocks of this size into a work area of 1 MiB;
// consecutive blocks overlap by the pattern's length less one.
inline constexpr std::size_t kFindBlock = 20 * 51200;
inline constexpr std::size_t kFindWorkArea = 1048576;

// The aim box's text turned into the pattern as upper-case hexadecimal text, two
// digits per byte. `message` is empty when the aim is accepted, else the box text.
struct FindAim {
  std::string pattern;
  std::string_view message;
};
[[nodiscard]] FindAim PrepareFindPattern(std::string_view aim, bool hex_mode);
// The bytes a valid hexadecimal pattern stands for.
[[nodiscard]] std::vector<std::uint8_t> PatternBytes(std::string_view hex);

// Reads up to out.size() bytes at an offset; the count (short only at the end) or -1.
using FindReader = std::function<std::int64_t(std::uint64_t, std::span<std::uint8_t>)>;

// The scan itself: yields the matches in the order the search stops at them. Within
// a block a match resumes the scan after its last byte (matches do not overlap);
// each new block starts one byte past the previous block's end less the pattern
// length, so a match across two blocks is found once.
class FindScanner {
 public:
  enum class Step : std::uint8_t { kMatch, kEnd, kStopped, kReadFailed };

  // `length`: the image's length when the search starts. `stop` (optional) is asked
  // before each block; true ends the scan with kStopped.
  FindScanner(FindReader read, std::uint64_t length, std::vector<std::uint8_t> pattern,
              std::function<bool()> stop = {});
  // False when the work area could not be allocated.
  [[nodiscard]] bool Ready() const { return block_ != nullptr; }
  // The next match's offset into `offset`, or why the scan ended.
  [[nodiscard]] Step Next(std::uint64_t& offset);

 private:
  FindReader read_;
  std::uint64_t length_;
  std::vector<std::uint8_t> pattern_;
  std::function<bool()> stop_;
  std::unique_ptr<std::uint8_t[]> block_;
  std::uint64_t base_ = 0;
  std::size_t filled_ = 0;  // bytes of the current block
  std::size_t pos_ = 0;     // next position to test inside it
  bool loaded_ = false;
};

// The search's half of the hand-shake at a match: writes 0 (unless a stop is
// already there) and polls every 15 ms until the dialog writes 1 or 2. A raised
// exit request stops it too, so a closing program never waits on a dialog.
enum class FindHandshake : std::uint8_t { kNext, kStop };
[[nodiscard]] FindHandshake WaitAtMatch(MainState& state, Clock& clock);

// Byte cells of the page a match marks (grid rows 1 to 20, columns 1 to 16): from
// the match's first byte left to right and down, ending at the page's last cell.
[[nodiscard]] std::vector<std::pair<int, int>> FindMatchCells(std::uint64_t offset,
                                                              std::size_t length,
                                                              std::uint64_t top_row);

// What the search needs of the hex view. Called on the worker thread; the window's
// implementation hands each call to the window thread.
class FindView {
 public:
  virtual ~FindView() = default;
  [[nodiscard]] virtual std::uint64_t TopRow() = 0;
  // Go to the match's address, refresh, mark its cells (state 3) and redraw.
  virtual void ShowMatch(std::uint64_t offset, std::size_t length) = 0;
  // Put the view back to a top row remembered earlier and refresh.
  virtual void RestoreTopRow(std::uint64_t row) = 0;
};

// The hex view itself as the search's view: go to the match, mark it, restore the
// top row. It must run where the hex view lives (see WindowCallFindView).
class PageFindView : public FindView {
 public:
  PageFindView(ImageBuffer& buffer, HexPage& page, Host& host)
      : buffer_(buffer), page_(page), host_(host) {}
  [[nodiscard]] std::uint64_t TopRow() override;
  void ShowMatch(std::uint64_t offset, std::size_t length) override;
  void RestoreTopRow(std::uint64_t row) override;

 private:
  ImageBuffer& buffer_;
  HexPage& page_;
  Host& host_;
};

// Another view whose every call runs through Host::WindowCall: the hex view belongs
// to the window thread, the search runs on the worker.
class WindowCallFindView : public FindView {
 public:
  WindowCallFindView(FindView& view, Host& host) : view_(view), host_(host) {}
  [[nodiscard]] std::uint64_t TopRow() override;
  void ShowMatch(std::uint64_t offset, std::size_t length) override;
  void RestoreTopRow(std::uint64_t row) override;

 private:
  FindView& view_;
  Host& host_;
};

// The pattern shared by the dialog (window thread) and the search (worker).
class FindState {
 public:
  [[nodiscard]] std::string Pattern() const;
  void SetPattern(std::string pattern);
  // The pattern of the previous OK, kept across searches; starts empty.
  [[nodiscard]] std::string PreviousPattern() const;
  void SetPreviousPattern(std::string pattern);

 private:
  mutable std::mutex mutex_;
  std::string pattern_;
  std::string previous_;
};

enum class FindOutcome : std::uint8_t {
  kFound,       // reached the end after at least one match
  kNotFound,    // reached the end without a match
  kStopped,     // stopped by the dialog (or the program closing); no message
  kNoMemory,    // "Ram not enough  "
  kReadFailed,  // the working copy could not be read
};

// Worker command 24 over any reader: the whole search with its messages.
[[nodiscard]] FindOutcome RunFind(const FindReader& read, std::uint64_t length,
                                  std::string_view pattern_hex, MainState& state, Host& host,
                                  Clock& clock, FindView& view);
// Worker command 24 over the loaded image's working copy, with the dialog's pattern.
[[nodiscard]] FindOutcome RunFindDatas(const ImageBuffer& buffer, const FindState& find,
                                       MainState& state, Host& host, Clock& clock, FindView& view);

// What an OK or "next" did.
enum class FindPress : std::uint8_t {
  kRefused,     // the aim was refused (its box shown); nothing changed
  kStarted,     // a search from the beginning was handed to the worker
  kNext,        // the search goes on to its next match
  kRestarting,  // a changed pattern: the running search was told to stop, and the new
                // one starts once the worker is idle (PollRestart)
};

// The "Find datas" dialog: validation, the OK/"next" button and the hand-shake from
// the window's side. `resume` wakes the worker after a command code was set. Nothing
// here waits for the worker: the search may itself be waiting for the window thread
// (a match shown through a window call), so a restart is polled, not awaited.
class FindDatasDialog {
 public:
  // How often the window looks whether a stopped search has left the worker idle.
  static constexpr int kRestartPollMs = 25;

  FindDatasDialog(MainState& state, FindState& find, Host& host, std::function<void()> resume);

  // "OK" until the first search starts, then "next".
  [[nodiscard]] std::string_view OkCaption() const { return searched_ ? "next" : "OK"; }
  // OK or "next".
  FindPress PressOk(std::string_view aim, bool hex_mode);
  // A restart waits for the stopped search to leave the worker idle.
  [[nodiscard]] bool RestartPending() const { return restart_pending_; }
  // Called every kRestartPollMs while a restart is pending: once the worker is idle,
  // hands the new search over. True when nothing is pending any more.
  bool PollRestart();
  // Cancel, the close box or Escape: stops a search that waits at a match (and a
  // restart that has not started yet).
  void Close();

 private:
  MainState& state_;
  FindState& find_;
  Host& host_;
  std::function<void()> resume_;
  bool searched_ = false;
  bool restart_pending_ = false;
};

}  // namespace tarvix
