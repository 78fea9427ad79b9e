// SPDX-License-Identifier: GPL-3.0-or-later
#include "buffer/find_datas.h"

#include <cstring>
#include <new>

#include "buffer/buffer_tools.h"
#include "buffer/hex_page.h"
#include "buffer/image_buffer.h"
#include "buffer/stream_copy.h"
#include "device/clock.h"
#include "device/host.h"

namespace tarvix {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

std::uint8_t DigitValue(char c) {
  return static_cast<std::uint8_t>(c < 'A' ? c - '0' : c - 'A' + 10);
}

}  // namespace

FindAim PrepareFindPattern(std::string_view aim, bool hex_mode) {
  FindAim result;
  if (aim.empty()) {
    result.message = kFindEmptyAim;
    return result;
  }
  if (!hex_mode) {
    result.pattern.reserve(aim.size() * 2);
    for (const char c : aim) {
      const auto byte = static_cast<std::uint8_t>(c);
      result.pattern += kHexDigits[byte >> 4];
      result.pattern += kHexDigits[byte & 0x0F];
    }
    return result;
  }
  std::string text(aim);
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if (text.find(' ') != std::string::npos) {
    result.message = kFindHexBlank;
    return result;
  }
  if (text.size() % 2 != 0) text.insert(text.begin(), '0');
  for (const char c : text) {
    if (!IsHexDigit(c)) {
      result.message = kFindHexError;
      return result;
    }
  }
  result.pattern = std::move(text);
  return result;
}

std::vector<std::uint8_t> PatternBytes(std::string_view hex) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(hex.size() / 2);
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<std::uint8_t>(DigitValue(hex[i]) << 4 | DigitValue(hex[i + 1])));
  return bytes;
}

FindScanner::FindScanner(FindReader read, std::uint64_t length, std::vector<std::uint8_t> pattern,
                         std::function<bool()> stop)
    : read_(std::move(read)),
      length_(length),
      pattern_(std::move(pattern)),
      stop_(std::move(stop)),
      block_(new (std::nothrow) std::uint8_t[kFindWorkArea]) {}

FindScanner::Step FindScanner::Next(std::uint64_t& offset) {
  const std::size_t f = pattern_.size();
  if (f == 0 || !block_) return Step::kEnd;
  for (;;) {
    if (!loaded_) {
      if (base_ >= length_) return Step::kEnd;
      if (stop_ && stop_()) return Step::kStopped;
      const std::int64_t got = read_(base_, {block_.get(), kFindBlock});
      if (got < 0) return Step::kReadFailed;
      filled_ = static_cast<std::size_t>(got);
      if (filled_ < f) {
        base_ = length_;  // the scan is over; later calls report the end again
        return Step::kEnd;
      }
      pos_ = 0;
      loaded_ = true;
    }
    // The first occurrence at or after pos_ is exactly where the shift-by-overlap
    // scan stops: it never skips a position that could still start a match.
    if (pos_ + f <= filled_) {
      const void* hit = ::memmem(block_.get() + pos_, filled_ - pos_, pattern_.data(), f);
      if (hit != nullptr) {
        const auto at =
            static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - block_.get());
        offset = base_ + at;
        pos_ = at + f;
        return Step::kMatch;
      }
    }
    base_ = base_ + filled_ - f + 1;
    loaded_ = false;
  }
}

FindHandshake WaitAtMatch(MainState& state, Clock& clock) {
  // Compare-and-swap, so a stop written just before the match is never overwritten
  // by the waiting mark (the dialog would then wait for an idle worker for ever).
  WorkerCommand current = state.command_code.load();
  do {
    if (current == kFindStop) return FindHandshake::kStop;
  } while (!state.command_code.compare_exchange_weak(current, kFindWaiting));
  for (;;) {
    if (state.exit_request.load() != 0) return FindHandshake::kStop;
    clock.SleepMs(15);
    const WorkerCommand now = state.command_code.load();
    if (now == kFindNext) return FindHandshake::kNext;
    if (now == kFindStop) return FindHandshake::kStop;
  }
}

std::vector<std::pair<int, int>> FindMatchCells(std::uint64_t offset, std::size_t length,
                                                std::uint64_t top_row) {
  std::vector<std::pair<int, int>> cells;
  for (std::size_t i = 0; i < length; ++i) {
    const std::uint64_t pos = offset + i;
    if (pos / 16 < top_row) continue;
    const std::uint64_t row = pos / 16 - top_row + 1;
    if (row > static_cast<std::uint64_t>(kHexRows)) break;
    cells.emplace_back(static_cast<int>(row), static_cast<int>(pos % 16) + 1);
  }
  return cells;
}

std::uint64_t PageFindView::TopRow() {
  return buffer_.TopRow();
}

void PageFindView::ShowMatch(std::uint64_t offset, std::size_t length) {
  if (!GoToAddress(buffer_, page_, host_, offset)) return;
  for (const auto& [row, column] : FindMatchCells(offset, length, buffer_.TopRow()))
    page_.MarkMatch({row, column});
}

void PageFindView::RestoreTopRow(std::uint64_t row) {
  buffer_.SetTopRow(row);
  page_.Refresh();
}

std::uint64_t WindowCallFindView::TopRow() {
  std::uint64_t row = 0;
  host_.WindowCall([&] { row = view_.TopRow(); });
  return row;
}

void WindowCallFindView::ShowMatch(std::uint64_t offset, std::size_t length) {
  host_.WindowCall([&] { view_.ShowMatch(offset, length); });
}

void WindowCallFindView::RestoreTopRow(std::uint64_t row) {
  host_.WindowCall([&] { view_.RestoreTopRow(row); });
}

std::string FindState::Pattern() const {
  std::lock_guard lock(mutex_);
  return pattern_;
}

void FindState::SetPattern(std::string pattern) {
  std::lock_guard lock(mutex_);
  pattern_ = std::move(pattern);
}

std::string FindState::PreviousPattern() const {
  std::lock_guard lock(mutex_);
  return previous_;
}

void FindState::SetPreviousPattern(std::string pattern) {
  std::lock_guard lock(mutex_);
  previous_ = std::move(pattern);
}

FindOutcome RunFind(const FindReader& read, std::uint64_t length, std::string_view pattern_hex,
                    MainState& state, Host& host, Clock& clock, FindView& view) {
  // Besides the hand-shake at a match, a stop is also honoured between blocks: a
  // dialog closed during a long scan must not leave the worker waiting at a later match.
  auto stopping = [&state] {
    return state.command_code.load() == kFindStop || state.exit_request.load() != 0;
  };
  const std::vector<std::uint8_t> pattern = PatternBytes(pattern_hex);
  FindScanner scanner(read, length, pattern, stopping);
  if (!scanner.Ready()) {
    (void)host.MessageBox(kFindRamNotEnough, "info", BoxIcon::kWarning, BoxButtons::kOk);
    return FindOutcome::kNoMemory;
  }
  std::uint64_t remembered = view.TopRow();
  bool found = false;
  FindScanner::Step step;
  std::uint64_t at = 0;
  while ((step = scanner.Next(at)) == FindScanner::Step::kMatch) {
    found = true;
    view.ShowMatch(at, pattern.size());
    remembered = view.TopRow();
    if (WaitAtMatch(state, clock) == FindHandshake::kStop) return FindOutcome::kStopped;
  }
  // A dialog that asked to stop may be waiting for the idle worker on the window
  // thread: the stop path makes no window calls.
  if (step == FindScanner::Step::kStopped || stopping()) return FindOutcome::kStopped;
  view.RestoreTopRow(remembered);
  if (step == FindScanner::Step::kReadFailed) {
    (void)host.MessageBox(kFindReadFailed, "info", BoxIcon::kWarning, BoxButtons::kOk);
    return FindOutcome::kReadFailed;
  }
  if (found) {
    (void)host.MessageBox(kFindReachedEnd, "info", BoxIcon::kNone, BoxButtons::kOk);
    return FindOutcome::kFound;
  }
  (void)host.MessageBox(kFindNotFound, "info", BoxIcon::kInformation, BoxButtons::kOk);
  return FindOutcome::kNotFound;
}

FindOutcome RunFindDatas(const ImageBuffer& buffer, const FindState& find, MainState& state,
                         Host& host, Clock& clock, FindView& view) {
  std::int64_t length = buffer.Loaded() ? FileLength(buffer.WorkingFd()) : 0;
  if (length < 0) length = 0;
  const FindReader read = [&buffer](std::uint64_t offset, std::span<std::uint8_t> out) {
    return buffer.ReadWorking(offset, out);
  };
  return RunFind(read, static_cast<std::uint64_t>(length), find.Pattern(), state, host, clock,
                 view);
}

FindDatasDialog::FindDatasDialog(MainState& state, FindState& find, Host& host,
                                 std::function<void()> resume)
    : state_(state), find_(find), host_(host), resume_(std::move(resume)) {}

FindPress FindDatasDialog::PressOk(std::string_view aim, bool hex_mode) {
  const FindAim prepared = PrepareFindPattern(aim, hex_mode);
  if (!prepared.message.empty()) {
    (void)host_.MessageBox(prepared.message, "info", BoxIcon::kWarning, BoxButtons::kOk);
    return FindPress::kRefused;
  }
  find_.SetPattern(prepared.pattern);
  FindPress press = FindPress::kNext;
  if (restart_pending_) {
    // The stopped search has not left yet; the new one will take this pattern.
    press = FindPress::kRestarting;
  } else if (!searched_) {
    searched_ = true;
    state_.command_code.store(kCommandFind);
    resume_();
    press = FindPress::kStarted;
  } else {
    const WorkerCommand old = state_.command_code.exchange(kFindNext);
    if (old == kCommandIdle) {
      // The previous search ended: start again from the beginning.
      state_.command_code.store(kCommandFind);
      resume_();
      press = FindPress::kStarted;
    } else if (prepared.pattern != find_.PreviousPattern()) {
      // A new pattern: end the running search first, then start the new one.
      state_.command_code.store(kFindStop);
      restart_pending_ = true;
      press = FindPress::kRestarting;
      (void)PollRestart();
    } else if (old == kCommandFind) {
      // The search has not reached a match yet, or the worker has not even picked the
      // search up: a 1 would then be read as the write command. The search stops at
      // its next match either way.
      WorkerCommand expected = kFindNext;
      state_.command_code.compare_exchange_strong(expected, kCommandFind);
    }
    // Otherwise the 1 stays: the search waiting at a match goes on.
  }
  find_.SetPreviousPattern(prepared.pattern);
  return press;
}

bool FindDatasDialog::PollRestart() {
  if (!restart_pending_) return true;
  WorkerCommand idle = kCommandIdle;
  if (!state_.command_code.compare_exchange_strong(idle, kCommandFind)) return false;
  restart_pending_ = false;
  resume_();
  return true;
}

void FindDatasDialog::Close() {
  restart_pending_ = false;
  state_.command_code.store(kFindStop);
}

}  // namespace tarvix
