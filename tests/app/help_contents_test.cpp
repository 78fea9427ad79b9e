// SPDX-License-Identifier: GPL-3.0-or-later
// Help > "&Contents": where the manual is found, what the viewer is handed, and the
// "not find file" box when there is nothing to show.
#include "app/help_contents.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "app/program.h"
#include "device/recording_host.h"
#include "operations/operation_fixture.h"

namespace tarvix::testing {
namespace {

namespace fs = std::filesystem;
using Kind = HostRecord::Kind;

void Touch(const fs::path& p) {
  fs::create_directories(p.parent_path());
  std::ofstream(p) << "<html></html>\n";
}

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Opened {
  std::vector<fs::path> paths;
  bool answer = true;
  std::function<bool(const fs::path&)> Opener() {
    return [this](const fs::path& p) {
      paths.push_back(p);
      return answer;
    };
  }
};

void ExpectNotFindFileBox(const RecordingHost& host) {
  const auto boxes = host.RecordsOf(Kind::kMessageBox);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "not find file");
  EXPECT_EQ(boxes[0].title, "info");
  EXPECT_EQ(boxes[0].icon, BoxIcon::kWarning);
}

TEST(HelpContents, TheStartUpDirectoryComesFirstThenTheInstalledCopies) {
  ScratchFolder scratch;
  const fs::path base = scratch.path / "work";
  const fs::path bin = scratch.path / "usr" / "bin";
  const fs::path shared = scratch.path / "usr" / "share" / "tarvix" / "VRNT_Tarvix.html";
  fs::create_directories(base);
  fs::create_directories(bin);

  // Nothing anywhere: the box, and the viewer is never asked.
  RecordingHost none;
  Opened nothing;
  ShowHelpContents(none, base, bin, nothing.Opener());
  EXPECT_TRUE(nothing.paths.empty());
  ExpectNotFindFileBox(none);

  // Each place is taken only while no earlier one holds a manual.
  Touch(shared);
  EXPECT_EQ(FindManual(base, bin), shared);
  Touch(bin / "VRNT_Tarvix.html");
  EXPECT_EQ(FindManual(base, bin), bin / "VRNT_Tarvix.html");
  Touch(base / "VRNT_Tarvix.CHM");
  EXPECT_EQ(FindManual(base, bin), base / "VRNT_Tarvix.CHM");
  Touch(base / "VRNT_Tarvix.html");
  EXPECT_EQ(FindManual(base, bin), base / "VRNT_Tarvix.html");
  // Without a known program folder only the start-up directory counts.
  fs::remove(base / "VRNT_Tarvix.html");
  fs::remove(base / "VRNT_Tarvix.CHM");
  EXPECT_FALSE(FindManual(base, {}));
  // A folder of that name is no manual.
  fs::create_directories(base / "VRNT_Tarvix.html");
  EXPECT_EQ(FindManual(base, bin), bin / "VRNT_Tarvix.html");

  RecordingHost found;
  Opened viewer;
  ShowHelpContents(found, base, bin, viewer.Opener());
  EXPECT_EQ(viewer.paths, std::vector<fs::path>{bin / "VRNT_Tarvix.html"});
  EXPECT_EQ(found.Count(Kind::kMessageBox), 0u);

  // A desktop without a viewer for it: the program shows the manual itself.
  RecordingHost failing;
  Opened refused;
  refused.answer = false;
  std::vector<fs::path> shown_here;
  const auto show_here = [&](const fs::path& p) { shown_here.push_back(p); };
  ShowHelpContents(failing, base, bin, refused.Opener(), show_here);
  ShowHelpContents(failing, base, bin, {}, show_here);
  EXPECT_EQ(refused.paths.size(), 1u);
  EXPECT_EQ(shown_here,
            (std::vector<fs::path>{bin / "VRNT_Tarvix.html", bin / "VRNT_Tarvix.html"}));
  EXPECT_EQ(failing.Count(Kind::kMessageBox), 0u);
}

TEST(HelpContents, TheProgramOpensTheManualOfItsStartUpDirectory) {
  ScratchFolder scratch;
  VirtualClock clock;
  sim::SimBus bus(clock);
  sim::SimBackend backend(bus);
  RecordingHost host;
  ProgramOptions options;
  options.base = scratch.path;
  options.worker_thread = false;
  Program program(options, backend, clock, host);

  Opened viewer;
  Touch(scratch.path / "VRNT_Tarvix.html");
  program.ShowHelpContents(viewer.Opener());
  EXPECT_EQ(viewer.paths, std::vector<fs::path>{scratch.path / "VRNT_Tarvix.html"});
  EXPECT_EQ(host.Count(Kind::kMessageBox), 0u);
}

// Every program text the manual quotes (its <samp> elements; <em> marks a number or
// name filled in) must be one the program really shows, so the manual cannot drift
// from the messages a technician sees.
TEST(HelpContents, EveryMessageTheManualQuotesIsTheProgramsOwn) {
  std::string sources = ReadText(fs::path(TARVIX_DATABASE_TXT));
  for (const auto& entry : fs::recursive_directory_iterator(fs::path(TARVIX_SOURCE_DIR) / "src")) {
    const fs::path& p = entry.path();
    if (p.extension() == ".h" || p.extension() == ".cpp") sources += ReadText(p);
  }
  const std::string manual = ReadText(fs::path(TARVIX_SOURCE_DIR) / "docs" / "manual.html");
  auto decode = [](std::string text) {
    for (const auto& [entity, c] : {std::pair<std::string, std::string>{"&gt;", ">"},
                                    {"&lt;", "<"},
                                    {"&quot;", "\""},
                                    {"&amp;", "&"}}) {
      for (std::size_t at; (at = text.find(entity)) != std::string::npos;)
        text.replace(at, entity.size(), c);
    }
    return text;
  };
  auto in_sources = [&](const std::string& fragment) {
    if (sources.find(fragment) != std::string::npos) return true;
    std::string escaped;  // as a C++ string literal writes it
    for (const char c : fragment) escaped += c == '"' ? std::string("\\\"") : std::string(1, c);
    return sources.find(escaped) != std::string::npos;
  };

  int quoted = 0;
  for (std::size_t at = 0; (at = manual.find("<samp>", at)) != std::string::npos;) {
    const std::size_t end = manual.find("</samp>", at);
    ASSERT_NE(end, std::string::npos);
    std::string text = manual.substr(at + 6, end - at - 6);
    at = end;
    ++quoted;
    // The filled-in parts split the text into pieces the program holds literally.
    for (std::size_t em; (em = text.find("<em>")) != std::string::npos;) {
      const std::size_t em_end = text.find("</em>", em);
      ASSERT_NE(em_end, std::string::npos) << text;
      text.replace(em, em_end + 5 - em, "\n");
    }
    std::size_t from = 0;
    for (std::size_t cut = 0; cut != std::string::npos; from = cut + 1) {
      cut = text.find('\n', from);
      const std::string piece =
          decode(text.substr(from, cut == std::string::npos ? cut : cut - from));
      if (!piece.empty()) {
        EXPECT_TRUE(in_sources(piece)) << "the manual quotes \"" << piece << "\"";
      }
    }
  }
  EXPECT_GT(quoted, 40);
}

TEST(HelpContents, TheBuildPutsTheManualBesideTheDatabase) {
  const fs::path built = fs::path(TARVIX_DATABASE_DAT).parent_path() / "VRNT_Tarvix.html";
  const std::string source = ReadText(fs::path(TARVIX_SOURCE_DIR) / "docs" / "manual.html");
  ASSERT_FALSE(source.empty());
  EXPECT_EQ(ReadText(built), source);
}

}  // namespace
}  // namespace tarvix::testing
