// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <thread>

#include "buffer/find_datas.h"
#include "buffer/hex_page.h"
#include "buffer/image_buffer.h"
#include "buffer/tools_test_support.h"
#include "device/clock.h"

namespace tarvix {
namespace {

using testing::BoxHost;

FindReader MemoryReader(const std::vector<std::uint8_t>& data, int* reads = nullptr) {
  return [&data, reads](std::uint64_t offset, std::span<std::uint8_t> out) -> std::int64_t {
    if (reads) ++*reads;
    if (offset >= data.size()) return 0;
    const std::size_t n = std::min<std::size_t>(out.size(), data.size() - offset);
    std::memcpy(out.data(), data.data() + offset, n);
    return static_cast<std::int64_t>(n);
  };
}

std::vector<std::uint64_t> AllMatches(const std::vector<std::uint8_t>& data,
                                      const std::vector<std::uint8_t>& pattern) {
  FindScanner scanner(MemoryReader(data), data.size(), pattern);
  std::vector<std::uint64_t> found;
  std::uint64_t at = 0;
  while (scanner.Next(at) == FindScanner::Step::kMatch) found.push_back(at);
  return found;
}

// A slow reference of the search: blocks of 1024000 bytes overlapping by f - 1,
// windows compared as hexadecimal text, the shift by the longest overlap with the
// pattern's start, and the step past a whole match.
std::vector<std::uint64_t> LiteralSearch(const std::vector<std::uint8_t>& data,
                                         const std::string& pattern_hex) {
  const std::size_t f = pattern_hex.size() / 2;
  static const auto kTable = [] {
    std::array<std::array<char, 3>, 256> t{};
    for (int b = 0; b < 256; ++b) {
      std::snprintf(t[b].data(), 3, "%2X", b);
      if (t[b][0] == ' ') t[b][0] = '0';
    }
    return t;
  }();
  // True when the n bytes at p, as text, equal the pattern text from its start.
  auto equal_text = [&](const std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      if (kTable[p[i]][0] != pattern_hex[2 * i] || kTable[p[i]][1] != pattern_hex[2 * i + 1])
        return false;
    }
    return true;
  };
  std::vector<std::uint64_t> found;
  std::uint64_t base = 0;
  const std::uint64_t length = data.size();
  while (base < length) {
    const std::size_t e = std::min<std::uint64_t>(kFindBlock, length - base);
    if (e < f) break;
    const std::uint8_t* block = data.data() + base;
    std::size_t o = 0;
    while (o + f <= e) {
      if (equal_text(block + o, f)) {
        found.push_back(base + o);
        o += f;
        continue;
      }
      std::size_t shift = f;
      for (std::size_t k = 1; k < f; ++k) {
        if (equal_text(block + o + k, f - k)) {
          shift = k;
          break;
        }
      }
      o += shift;
    }
    base = base + e - f + 1;
  }
  return found;
}

TEST(FindPattern, HexAndCharacterAimsBecomeUpperCaseHexText) {
  EXPECT_EQ(PrepareFindPattern("ABC", true).pattern, "0ABC");
  EXPECT_EQ(PatternBytes("0ABC"), (std::vector<std::uint8_t>{0x0A, 0xBC}));
  EXPECT_EQ(PrepareFindPattern("5aff", true).pattern, "5AFF");
  EXPECT_EQ(PrepareFindPattern("AAB", false).pattern, "414142");
  EXPECT_EQ(PrepareFindPattern("a\n\xC3\xBC", false).pattern, "610AC3BC");
  EXPECT_EQ(PrepareFindPattern("", true).message, "please input data you want to find! ");
  EXPECT_EQ(PrepareFindPattern("", false).message, "please input data you want to find! ");
  EXPECT_EQ(PrepareFindPattern("AB CD", true).message, "please input hex data!   ");
  // The blank is found before the odd length is padded.
  EXPECT_EQ(PrepareFindPattern("A C", true).message, "please input hex data!   ");
  EXPECT_EQ(PrepareFindPattern("0G", true).message, "input hex data error!   ");
  EXPECT_EQ(PrepareFindPattern("ABC", true).message, "");
}

TEST(FindScan, MatchesResumeAfterTheMatchAndCharactersFindOverlaps) {
  // "AAB" in 41 41 41 42: the first window fails and the shift lands on offset 1.
  EXPECT_EQ(AllMatches({0x41, 0x41, 0x41, 0x42}, {0x41, 0x41, 0x42}),
            std::vector<std::uint64_t>{1});
  // Matches never overlap inside a block.
  EXPECT_EQ(AllMatches(std::vector<std::uint8_t>(6, 0xAA), {0xAA, 0xAA}),
            (std::vector<std::uint64_t>{0, 2, 4}));
  EXPECT_EQ(AllMatches({0x0A, 0xBC, 0x00, 0x0A, 0xBC}, PatternBytes("0ABC")),
            (std::vector<std::uint64_t>{0, 3}));
  EXPECT_TRUE(AllMatches({1, 2}, {1, 2, 3}).empty());
  EXPECT_TRUE(AllMatches({}, {1}).empty());
}

TEST(FindScan, BlockBoundariesBehaveAsTheOverlappingReadsDo) {
  // A match across the first block's end is found once, at its true offset.
  std::vector<std::uint8_t> data(kFindBlock + 100, 0x00);
  data[kFindBlock - 2] = 0x12;
  data[kFindBlock - 1] = 0x34;
  data[kFindBlock] = 0x56;
  EXPECT_EQ(AllMatches(data, {0x12, 0x34, 0x56}), std::vector<std::uint64_t>{kFindBlock - 2});
  // In a run of equal bytes the next block starts inside the last match of the
  // previous one, so there (and only there) two reported matches overlap.
  const std::vector<std::uint8_t> run(kFindBlock + 10, 0x41);
  const auto found = AllMatches(run, {0x41, 0x41, 0x41});
  EXPECT_EQ(found, LiteralSearch(run, "414141"));
  ASSERT_GE(found.size(), 2u);
  EXPECT_NE(std::find(found.begin(), found.end(), 1023996u), found.end());
  EXPECT_NE(std::find(found.begin(), found.end(), 1023998u), found.end());
}

TEST(FindScan, GivesExactlyTheLiteralSearchResultsOnManyPatterns) {
  // Small alphabets make partial matches, shifts and boundary cases frequent.
  std::vector<std::uint8_t> data = testing::Pattern(2 * kFindBlock + 777, 5);
  for (auto& b : data) b = static_cast<std::uint8_t>(0x41 + (b % 3));
  for (const std::string hex : {"41", "4142", "414141", "41424341", "4343434343", "42414241"}) {
    EXPECT_EQ(AllMatches(data, PatternBytes(hex)), LiteralSearch(data, hex)) << hex;
  }
  // A pattern longer than a block is never found, as with the block-wise reads.
  std::vector<std::uint8_t> huge(kFindBlock + 1, 0x41);
  EXPECT_TRUE(AllMatches(huge, huge).empty());
}

TEST(FindScan, StopsBetweenBlocksAndReportsReadErrors) {
  const std::vector<std::uint8_t> data(3 * kFindBlock, 0);
  int reads = 0;
  bool stop = false;
  FindScanner scanner(MemoryReader(data, &reads), data.size(), {1}, [&] { return stop; });
  std::uint64_t at = 0;
  stop = true;
  EXPECT_EQ(scanner.Next(at), FindScanner::Step::kStopped);
  EXPECT_EQ(reads, 0);
  FindScanner failing([](std::uint64_t, std::span<std::uint8_t>) { return std::int64_t{-1}; }, 10,
                      {1});
  EXPECT_EQ(failing.Next(at), FindScanner::Step::kReadFailed);
}

TEST(FindMatchCellsTest, MarksFromTheFocusCellToTheEndOfThePageOnly) {
  EXPECT_EQ(FindMatchCells(0x25, 3, 0), (std::vector<std::pair<int, int>>{{3, 6}, {3, 7}, {3, 8}}));
  // Runs on to the next row.
  EXPECT_EQ(FindMatchCells(0x1F, 2, 1), (std::vector<std::pair<int, int>>{{1, 16}, {2, 1}}));
  // Last cell of the page (row 20, column 16) ends the marking.
  EXPECT_EQ(FindMatchCells(319, 4, 0), (std::vector<std::pair<int, int>>{{20, 16}}));
}

struct FakeView : FindView {
  std::uint64_t top = 0;
  std::vector<std::pair<std::uint64_t, std::size_t>> shown;
  std::vector<std::uint64_t> restored;
  std::uint64_t TopRow() override { return top; }
  void ShowMatch(std::uint64_t offset, std::size_t length) override {
    shown.emplace_back(offset, length);
    top = offset / 16;
  }
  void RestoreTopRow(std::uint64_t row) override {
    restored.push_back(row);
    top = row;
  }
};

// Plays the dialog: answers each wait at a match with `answers` in turn.
std::thread Dialog(MainState& state, std::vector<WorkerCommand> answers) {
  return std::thread([&state, answers] {
    for (const WorkerCommand a : answers) {
      while (state.command_code.load() != kFindWaiting) std::this_thread::yield();
      state.command_code.store(a);
    }
  });
}

TEST(FindRun, StopsAtEachMatchUntilNextAndReportsTheEnd) {
  std::vector<std::uint8_t> data(4000, 0);
  data[100] = data[3000] = 0xAB;
  MainState state;
  state.command_code = kCommandFind;
  VirtualClock clock;
  BoxHost host;
  FakeView view;
  std::thread dialog = Dialog(state, {kFindNext, kFindNext});
  const FindOutcome r = RunFind(MemoryReader(data), data.size(), "AB", state, host, clock, view);
  dialog.join();
  EXPECT_EQ(r, FindOutcome::kFound);
  EXPECT_EQ(view.shown, (std::vector<std::pair<std::uint64_t, std::size_t>>{{100, 1}, {3000, 1}}));
  // The view goes back to where the last match left it.
  EXPECT_EQ(view.restored, std::vector<std::uint64_t>{3000 / 16});
  ASSERT_EQ(host.Boxes().size(), 1u);
  EXPECT_EQ(host.Boxes()[0].text, "file search reach end.\r\ncontinue to search from the begin?");
  EXPECT_EQ(host.Boxes()[0].title, "info");
  EXPECT_GE(clock.NowMs(), 0);
}

TEST(FindRun, NothingFoundRestoresTheStartAndSaysSo) {
  const std::vector<std::uint8_t> data(100, 0);
  MainState state;
  state.command_code = kCommandFind;
  VirtualClock clock;
  BoxHost host;
  FakeView view;
  view.top = 7;
  EXPECT_EQ(RunFind(MemoryReader(data), data.size(), "01", state, host, clock, view),
            FindOutcome::kNotFound);
  EXPECT_EQ(view.restored, std::vector<std::uint64_t>{7});
  ASSERT_EQ(host.Boxes().size(), 1u);
  EXPECT_EQ(host.Boxes()[0].text, "finished.\r\nnot find specify datas      ");
  EXPECT_EQ(host.Boxes()[0].icon, BoxIcon::kInformation);
}

TEST(FindRun, StopAtAMatchEndsSilentlyWithoutTouchingTheView) {
  const std::vector<std::uint8_t> data(100, 0x55);
  MainState state;
  state.command_code = kCommandFind;
  VirtualClock clock;
  BoxHost host;
  FakeView view;
  std::thread dialog = Dialog(state, {kFindNext, kFindStop});
  EXPECT_EQ(RunFind(MemoryReader(data), data.size(), "55", state, host, clock, view),
            FindOutcome::kStopped);
  dialog.join();
  EXPECT_EQ(view.shown.size(), 2u);
  EXPECT_TRUE(view.restored.empty());
  EXPECT_TRUE(host.Boxes().empty());
}

TEST(FindRun, StopWrittenDuringTheScanIsNotOverwrittenByTheWaitingMark) {
  // The dialog was closed while the scan ran: the next match must not wait.
  std::vector<std::uint8_t> data(3 * kFindBlock, 0);
  data[2 * kFindBlock + 5] = 0x77;
  MainState state;
  state.command_code = kCommandFind;
  VirtualClock clock;
  BoxHost host;
  FakeView view;
  int reads = 0;
  const FindReader base = MemoryReader(data, &reads);
  const FindReader closing = [&](std::uint64_t offset, std::span<std::uint8_t> out) {
    state.command_code.store(kFindStop);
    return base(offset, out);
  };
  EXPECT_EQ(RunFind(closing, data.size(), "77", state, host, clock, view), FindOutcome::kStopped);
  EXPECT_EQ(reads, 1);
  EXPECT_EQ(state.command_code.load(), kFindStop);
  EXPECT_TRUE(host.Boxes().empty());

  // The same at a match found in the block being read.
  state.command_code = kCommandFind;
  data[10] = 0x77;
  EXPECT_EQ(RunFind(closing, data.size(), "77", state, host, clock, view), FindOutcome::kStopped);
  EXPECT_EQ(state.command_code.load(), kFindStop);
}

TEST(FindHandshakeTest, WaitsForNextOrStopAndGivesUpWhenTheProgramCloses) {
  MainState state;
  VirtualClock clock;
  state.command_code = kFindStop;
  EXPECT_EQ(WaitAtMatch(state, clock), FindHandshake::kStop);
  EXPECT_EQ(clock.NowMs(), 0);

  state.command_code = kCommandFind;
  std::thread next = Dialog(state, {kFindNext});
  EXPECT_EQ(WaitAtMatch(state, clock), FindHandshake::kNext);
  next.join();

  // A device-change code written meanwhile is neither next nor stop: keep waiting.
  state.command_code = kCommandFind;
  std::thread other([&] {
    while (state.command_code.load() != kFindWaiting) std::this_thread::yield();
    state.command_code.store(7);
    state.exit_request.store(1);
  });
  EXPECT_EQ(WaitAtMatch(state, clock), FindHandshake::kStop);
  other.join();
  EXPECT_EQ(clock.NowMs() % 15, 0);
}

TEST(FindRun, OverTheLoadedImageEachMatchIsShownAndMarkedOnThePage) {
  testing::ScratchDir dir("find image");
  MainState state;
  state.paths = Paths::FromBase(dir.path());
  std::vector<std::uint8_t> image(100 * 16, 0x00);
  // "AAB" as characters at 0x4FE: the match runs over into the next row.
  image[0x4FD] = 0x41;
  image[0x4FE] = 0x41;
  image[0x4FF] = 0x41;
  image[0x500] = 0x42;
  testing::WriteBytes(dir / "image.bin", image);
  ImageBuffer buffer(state);
  ASSERT_EQ(buffer.LoadFrom(dir / "image.bin"), ImageBuffer::Status::kOk);
  BoxHost host;
  HexPage page(buffer, state, host);
  page.Refresh();
  FindState find;
  find.SetPattern(PrepareFindPattern("AAB", false).pattern);
  PageFindView view(buffer, page, host);
  VirtualClock clock;
  state.command_code = kCommandFind;

  std::vector<std::uint16_t> marked;
  std::uint64_t top_at_match = 0;
  std::thread dialog([&] {
    while (state.command_code.load() != kFindWaiting) std::this_thread::yield();
    top_at_match = buffer.TopRow();
    for (int row = 1; row <= kHexRows; ++row)
      for (int column = 1; column <= kHexColumns; ++column)
        if (page.CellState(row, column) == kCellMatch)
          marked.push_back(static_cast<std::uint16_t>(row * 100 + column));
    state.command_code.store(kFindNext);
  });
  EXPECT_EQ(RunFindDatas(buffer, find, state, host, clock, view), FindOutcome::kFound);
  dialog.join();
  EXPECT_EQ(top_at_match, 0x4Fu);
  EXPECT_EQ(marked, (std::vector<std::uint16_t>{115, 116, 201}));
  EXPECT_EQ(page.FocusCell(), (GridCell{1, 15}));
  EXPECT_EQ(buffer.TopRow(), 0x4Fu);
  EXPECT_EQ(host.BoxTexts().back(), "file search reach end.\r\ncontinue to search from the begin?");
}

struct FindDialogFixture : ::testing::Test {
  MainState state;
  FindState find;
  BoxHost host;
  int resumes = 0;
  FindDatasDialog dialog{state, find, host, [this] { ++resumes; }};
};

TEST_F(FindDialogFixture, FirstOkStartsTheSearchAndTheButtonBecomesNext) {
  EXPECT_EQ(dialog.OkCaption(), "OK");
  EXPECT_EQ(dialog.PressOk("", true), FindPress::kRefused);
  EXPECT_EQ(dialog.PressOk("1 2", true), FindPress::kRefused);
  EXPECT_EQ(dialog.OkCaption(), "OK");
  EXPECT_EQ(resumes, 0);
  EXPECT_EQ(host.BoxTexts(), (std::vector<std::string>{"please input data you want to find! ",
                                                       "please input hex data!   "}));
  EXPECT_EQ(dialog.PressOk("abc", true), FindPress::kStarted);
  EXPECT_EQ(dialog.OkCaption(), "next");
  EXPECT_EQ(state.command_code.load(), kCommandFind);
  EXPECT_EQ(find.Pattern(), "0ABC");
  EXPECT_EQ(find.PreviousPattern(), "0ABC");
  EXPECT_EQ(resumes, 1);
}

TEST_F(FindDialogFixture, NextGoesOnRestartsWhenIdleAndReplacesAChangedPattern) {
  ASSERT_EQ(dialog.PressOk("AB", true), FindPress::kStarted);
  // Waiting at a match, same pattern: the search goes on.
  state.command_code = kFindWaiting;
  EXPECT_EQ(dialog.PressOk("AB", true), FindPress::kNext);
  EXPECT_EQ(state.command_code.load(), kFindNext);
  EXPECT_EQ(resumes, 1);
  // The search ended: "next" starts again from the beginning.
  state.command_code = kCommandIdle;
  EXPECT_EQ(dialog.PressOk("AB", true), FindPress::kStarted);
  EXPECT_EQ(state.command_code.load(), kCommandFind);
  EXPECT_EQ(resumes, 2);
  // Waiting at a match with a new pattern: stop now, start anew once the worker is idle.
  state.command_code = kFindWaiting;
  EXPECT_EQ(dialog.PressOk("A", false), FindPress::kRestarting);
  EXPECT_EQ(state.command_code.load(), kFindStop);
  EXPECT_TRUE(dialog.RestartPending());
  EXPECT_FALSE(dialog.PollRestart());
  EXPECT_EQ(resumes, 2);
  state.command_code = kCommandIdle;  // the stopped search has left
  EXPECT_TRUE(dialog.PollRestart());
  EXPECT_FALSE(dialog.RestartPending());
  EXPECT_EQ(state.command_code.load(), kCommandFind);
  EXPECT_EQ(find.Pattern(), "41");
  EXPECT_EQ(find.PreviousPattern(), "41");
  EXPECT_EQ(resumes, 3);
  // Nothing pending: polling again starts nothing.
  EXPECT_TRUE(dialog.PollRestart());
  EXPECT_EQ(resumes, 3);
}

TEST_F(FindDialogFixture, ARestartNeverWaitsForTheWorkerAndTakesTheLastPattern) {
  ASSERT_EQ(dialog.PressOk("AB", true), FindPress::kStarted);
  state.command_code = kFindWaiting;
  // The search may be busy in a window call of its own: the press returns at once.
  EXPECT_EQ(dialog.PressOk("CD", true), FindPress::kRestarting);
  // Another change before the worker is idle: still one restart, with the newest pattern.
  EXPECT_EQ(dialog.PressOk("EF", true), FindPress::kRestarting);
  EXPECT_EQ(state.command_code.load(), kFindStop);
  state.command_code = kCommandIdle;
  EXPECT_TRUE(dialog.PollRestart());
  EXPECT_EQ(find.Pattern(), "EF");
  EXPECT_EQ(resumes, 2);
}

TEST_F(FindDialogFixture, ARestartAgainstARunningWorkerStartsTheNewSearch) {
  ASSERT_EQ(dialog.PressOk("AB", true), FindPress::kStarted);
  state.command_code = kFindWaiting;
  std::thread worker([this] {
    while (state.command_code.load() != kFindStop) std::this_thread::yield();
    state.command_code.store(kCommandIdle);
  });
  ASSERT_EQ(dialog.PressOk("A", false), FindPress::kRestarting);
  while (!dialog.PollRestart()) std::this_thread::yield();
  worker.join();
  EXPECT_EQ(state.command_code.load(), kCommandFind);
  EXPECT_EQ(resumes, 2);
}

TEST_F(FindDialogFixture, NextBeforeTheSearchWaitsNeverLeavesTheWriteCode) {
  ASSERT_EQ(dialog.PressOk("AB", true), FindPress::kStarted);
  // The worker has not picked the search up yet (or it is still scanning).
  ASSERT_EQ(state.command_code.load(), kCommandFind);
  EXPECT_EQ(dialog.PressOk("AB", true), FindPress::kNext);
  EXPECT_EQ(state.command_code.load(), kCommandFind);
  EXPECT_EQ(resumes, 1);
}

TEST_F(FindDialogFixture, CloseTellsTheSearchToStopAndDropsAPendingRestart) {
  ASSERT_EQ(dialog.PressOk("AB", true), FindPress::kStarted);
  state.command_code = kFindWaiting;
  dialog.Close();
  EXPECT_EQ(state.command_code.load(), kFindStop);
  // Closed while a changed pattern waits for the stopped search: nothing starts later.
  state.command_code = kFindWaiting;
  ASSERT_EQ(dialog.PressOk("CD", true), FindPress::kRestarting);
  dialog.Close();
  EXPECT_FALSE(dialog.RestartPending());
  state.command_code = kCommandIdle;
  EXPECT_TRUE(dialog.PollRestart());
  EXPECT_EQ(state.command_code.load(), kCommandIdle);
  EXPECT_EQ(resumes, 1);
}

// Runs window calls on a thread of its own, the way a window's event loop would, and
// says which thread each call of the view came from.
class WindowThreadHost : public BoxHost {
 public:
  void WindowCall(const std::function<void()>& call) override {
    ++calls;
    std::thread window([&] {
      on_window_thread = true;
      call();
      on_window_thread = false;
    });
    window.join();
  }
  int calls = 0;
  static thread_local bool on_window_thread;
};
thread_local bool WindowThreadHost::on_window_thread = false;

struct ThreadCheckingView : FindView {
  std::uint64_t TopRow() override {
    outside += !WindowThreadHost::on_window_thread;
    return 7;
  }
  void ShowMatch(std::uint64_t offset, std::size_t) override {
    outside += !WindowThreadHost::on_window_thread;
    shown.push_back(offset);
  }
  void RestoreTopRow(std::uint64_t row) override {
    outside += !WindowThreadHost::on_window_thread;
    restored = row;
  }
  int outside = 0;
  std::vector<std::uint64_t> shown;
  std::uint64_t restored = 0;
};

TEST(WindowCallFindView, EveryViewCallOfTheSearchRunsAsAWindowCall) {
  MainState state;
  WindowThreadHost host;
  VirtualClock clock;
  ThreadCheckingView page;
  WindowCallFindView view(page, host);
  const std::vector<std::uint8_t> data = {1, 2, 3, 1, 2, 3, 9};
  state.command_code = kCommandFind;
  std::thread dialog([&] {
    for (int i = 0; i < 2; ++i) {
      while (state.command_code.load() != kFindWaiting) std::this_thread::yield();
      state.command_code.store(kFindNext);
    }
  });
  EXPECT_EQ(RunFind(MemoryReader(data), data.size(), "0102", state, host, clock, view),
            FindOutcome::kFound);
  dialog.join();
  EXPECT_EQ(page.shown, (std::vector<std::uint64_t>{0, 3}));
  EXPECT_EQ(page.restored, 7u);
  EXPECT_EQ(page.outside, 0);
  // The first top row, one per match, and the restore.
  EXPECT_EQ(host.calls, 1 + 2 * 2 + 1);
}

}  // namespace
}  // namespace tarvix
