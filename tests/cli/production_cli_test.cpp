// SPDX-License-Identifier: GPL-3.0-or-later
// Production through the real tarvix-cli on the simulated programmer: load files
// written by srec_cat programmed, verified and read back (srec_cat and sha256sum
// judge), verify's difference list, a stamped bulk run with its log, and a locked log
// that stops a run before any chip.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "cli/cli_folder.h"
#include "cli/cli_runner.h"
#include "operations/operation_fixture.h"
#include "production/log_database.h"

namespace tarvix {
namespace {

using testing::CliResult;
using testing::RunCli;
namespace fs = std::filesystem;

constexpr std::size_t kChipSize = 128 * 1024;  // the W25X10

// The first field sha256sum prints for `file`.
std::string Sha256Sum(const fs::path& file) {
  FILE* pipe = ::popen(("sha256sum '" + file.string() + "'").c_str(), "r");
  char digest[65] = {};
  const bool got = pipe != nullptr && std::fscanf(pipe, "%64s", digest) == 1;
  if (pipe != nullptr) ::pclose(pipe);
  return got ? digest : "";
}

// The value of `"key":"..."` (or a number) in a JSON line.
std::string Field(const std::string& json, const std::string& key) {
  const std::regex pattern("\"" + key + "\":(\"([^\"]*)\"|([-0-9a-z]+))");
  std::smatch m;
  if (!std::regex_search(json, m, pattern)) return "<no " + key + ">";
  return m[2].matched ? m[2].str() : m[3].str();
}

class ProductionCli : public testing::CliFolderTest {
 protected:
  void Sh(const std::string& command) {
    ASSERT_EQ(std::system(("cd '" + dir_.path.string() + "' && " + command).c_str()), 0) << command;
  }
  // tarvix-cli on a simulated W25X10 whose contents are chip.img.
  CliResult Run(std::vector<std::string> args) {
    std::vector<std::string> all = {"--simulate=W25X10", "--chip", "W25X10", "--sim-image",
                                    "chip.img"};
    all.insert(all.end(), args.begin(), args.end());
    return RunCli(all, dir_.path);
  }
};

TEST_F(ProductionCli, LoadFilesFromSrecCatAreProgrammedVerifiedAndReadBack) {
  std::mt19937 gen(7);
  std::string low(3000, '\0'), high(20000, '\0');
  for (char& c : low) c = static_cast<char>(gen());
  for (char& c : high) c = static_cast<char>(gen());
  Put("low.bin", low);
  Put("high.bin", high);
  const std::string pieces =
      "srec_cat low.bin -binary -offset 0x100 high.bin -binary -offset 0x8000";
  Sh(pieces + " -o fw.hex -intel -address-length=4");
  Sh(pieces + " -o fw.s37 -motorola -address-length=4");
  // The image as the chip is to hold it: every gap and the range before 0x100 blank.
  std::string expected(0x8000 + high.size(), '\xFF');
  expected.replace(0x100, low.size(), low);
  expected.replace(0x8000, high.size(), high);
  Put("expected.bin", expected);
  const std::string image_sha = Sha256Sum(dir_.path / "expected.bin");

  CliResult r = Run({"--yes", "--json", "write", "fw.hex"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Field(r.out, "format"), "ihex");
  EXPECT_EQ(Field(r.out, "image_sha256"), image_sha) << r.out;
  std::string chip = Get("chip.img");
  EXPECT_TRUE(chip.substr(0, expected.size()) == expected);
  EXPECT_EQ(chip.find_first_not_of('\xFF', expected.size()), std::string::npos);

  // The S-record file holds the same image: the chip verifies against it, and the
  // chip's own sums are those of its whole contents.
  r = Run({"--json", "verify", "fw.s37", "--diff"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Field(r.out, "image_sha256"), image_sha);
  EXPECT_EQ(Field(r.out, "chip_sha256"), Sha256Sum(dir_.path / "chip.img")) << r.out;
  EXPECT_NE(r.out.find("\"diff\":{\"ranges\":0,\"bytes\":0,\"list\":[]"), std::string::npos);

  // Read back in both record formats; srec_cat turns each into the chip's bytes.
  for (const char* name : {"back.hex", "back.srec"}) {
    r = Run({"read", name});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("chip CRC-32 "), std::string::npos);
    EXPECT_NE(r.out.find(" SHA-256 " + Sha256Sum(dir_.path / "chip.img") + "\n"), std::string::npos)
        << r.out;
    const std::string family = std::string(name) == "back.hex" ? "-intel" : "-motorola";
    Sh(std::string("srec_cat ") + name + " " + family + " -o decoded.bin -binary");
    EXPECT_TRUE(Get("decoded.bin") == chip) << name;
  }

  // A record with a wrong checksum, and records past the chip's end, are refused
  // before the chip is touched.
  std::string bad = Get("fw.hex");
  const std::size_t line3 = bad.find('\n', bad.find('\n') + 1) + 1;
  const std::size_t end3 = bad.find('\n', line3);
  bad[end3 - 1] = bad[end3 - 1] == '0' ? '1' : '0';
  Put("bad.hex", bad);
  Sh("srec_cat low.bin -binary -offset 0x1FF00 -o far.hex -intel");
  Sh("cp chip.img before.img");
  r = Run({"--yes", "write", "bad.hex"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("tarvix-cli: bad.hex: line 3: "), std::string::npos) << r.err;
  r = Run({"--yes", "auto", "far.hex"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("tarvix-cli: far.hex: its records run from 0x1FF00 to 0x20AB7, past the "
                       "end of the chip (131072 bytes)"),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(Get("chip.img") == Get("before.img"));
}

TEST_F(ProductionCli, VerifyDiffListsTheFirstRangesAndCountsTheRest) {
  ASSERT_EQ(Run({"--yes", "write", "img.bin"}).status, 0);
  // Four differing ranges: 1, 4 and 20 bytes in the image, 2 past its end (blank there).
  std::string chip = Get("chip.img");
  for (const auto& [at, length] : std::vector<std::pair<std::size_t, std::size_t>>{
           {0x10, 1}, {0x1000, 4}, {0x2000, 20}, {0x12000, 2}})
    for (std::size_t i = at; i < at + length; ++i) chip[i] = static_cast<char>(~chip[i]);
  Put("chip.img", chip);

  CliResult r = Run({"--json", "verify", "img.bin", "--diff", "2"});
  EXPECT_EQ(r.status, 1);
  const auto hex = [&](std::size_t at, std::size_t n, const std::string& from) {
    static const char* digits = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = at; i < at + n; ++i) {
      const auto b = static_cast<unsigned char>(from[i]);
      text += digits[b >> 4];
      text += digits[b & 15];
    }
    return text;
  };
  EXPECT_NE(r.out.find("\"diff\":{\"ranges\":4,\"bytes\":27,\"list\":[{\"address\":16,\"length\":1,"
                       "\"file\":\"" +
                       hex(0x10, 1, image_) + "\",\"chip\":\"" + hex(0x10, 1, chip) +
                       "\"},{\"address\":4096,\"length\":4,\"file\":\"" + hex(0x1000, 4, image_) +
                       "\",\"chip\":\"" + hex(0x1000, 4, chip) +
                       "\"}],\"more_ranges\":2,\"more_bytes\":22}"),
            std::string::npos)
      << r.out;

  // As text: every range with the first 16 bytes of each side.
  r = Run({"verify", "img.bin", "--diff"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("differences: 4 ranges, 27 bytes\n00000010H 1 file:"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\n00002000H 20 file:"), std::string::npos);
  EXPECT_NE(r.out.find("\n00012000H 2 file: FF FF chip: 00 00\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("more range"), std::string::npos);
}

// Twenty chips of a line that get them blank (no erase), one of which is not: each
// takes the next serial number, patched into what is written and verified; the failed
// chip's number is spoiled and the next run goes on after the last number given.
TEST_F(ProductionCli, TwentyStampedChipsOneFailureEveryChipsBytesAndTheLog) {
  const std::vector<std::string> serial = {
      "--serial-address", "11180", "--serial-encoding", "ascii-dec", "--serial-width", "6",
      "--serial-start",   "99990", "--serial-step",     "7"};
  std::vector<std::string> bulk = {"--yes",  "--json", "--log",   "prod.db", "--lot",
                                   "L-0042", "auto",   "img.bin", "--bulk"};
  const auto with = [](std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  // Stamping needs a log for its counter, and bulk mode.
  EXPECT_EQ(Run(with({"--yes", "auto", "img.bin", "--bulk", "2"}, serial)).status, 2);
  EXPECT_EQ(Run(with({"--yes", "--log", "prod.db", "auto", "img.bin"}, serial)).status, 2);
  EXPECT_FALSE(fs::exists(dir_.path / "prod.db"));

  Put("kest2.dll", std::string("\x01\x01\x00\x01\x01", 5));  // " Erase " off
  fs::create_directory(dir_.path / "box");
  std::string spoilt(kChipSize, '\xFF');
  spoilt.replace(0x100, 8, std::string(8, '\0'));
  Put("box/chip-7.img", spoilt);

  CliResult r = Run(with(with(bulk, {"20", "--sim-chips", "box"}), serial));
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.out.find("\"passed\":19,\"failed\":1"), std::string::npos) << r.out;
  for (int n = 1; n <= 20; ++n) {
    const std::string value = std::to_string(99990 + 7 * (n - 1));
    std::string expected = image_ + std::string(0x11180 - image_.size(), '\xFF') +
                           std::string(6 - value.size(), '0') + value;
    if (n == 7) expected.replace(0x100, 8, std::string(8, '\0'));
    const std::string file = n == 1 ? "chip.img" : "box/chip-" + std::to_string(n) + ".img";
    const std::string chip = Get(file);
    EXPECT_TRUE(chip.substr(0, expected.size()) == expected) << "chip " << n;
    EXPECT_EQ(chip.find_first_not_of('\xFF', expected.size()), std::string::npos) << n;
    EXPECT_NE(r.out.find("{\"chip\":" + std::to_string(n) + ",\"ok\":" +
                         (n == 7 ? "false" : "true") + ",\"simulated_chip\":" + std::to_string(n) +
                         ",\"serial\":" + std::to_string(99990 + 7 * (n - 1)) + ","),
              std::string::npos)
        << n << r.out;
  }
  EXPECT_TRUE(Get("img.bin") == image_) << "the user's file was stamped";

  // The log: twenty entries, the image's SHA-256 as sha256sum has it.
  r = Run({"--log", "prod.db", "--lot", "L-0042", "--json", "log", "show"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::regex entry(
      R"re(\{"id":\d+,"time":"[^"]+","lot":"L-0042","programmer":"\d{6}",)re"
      R"re("chip_model":"W25X10","chip_id":"EF3011","image":"img.bin",)re"
      R"re("image_crc32":"[0-9A-F]{8}","image_sha256":"([0-9a-f]{64})","operation":"auto",)re"
      R"re("passed":(true|false),"result_text":"([^"]*)","duration_ms":\d+,"serial":(\d+)\})re");
  int entries = 0;
  for (std::sregex_iterator it(r.out.begin(), r.out.end(), entry), end; it != end; ++it) {
    ++entries;
    const std::smatch& m = *it;
    EXPECT_EQ(m[1], Sha256Sum(dir_.path / "img.bin"));
    EXPECT_EQ(m[2], entries == 7 ? "false" : "true") << entries;
    EXPECT_EQ(m[3],
              entries == 7 ? "verify finished.8 error(s)! 0:0" : "Auto Write Verify finished,0:0");
    EXPECT_EQ(m[4], std::to_string(99990 + 7 * (entries - 1)));
  }
  EXPECT_EQ(entries, 20) << r.out;
  EXPECT_NE(r.out.find("\"passed\":19,\"failed\":1}"), std::string::npos);

  // The counter lives in the log: the next run, on a new chip, starts after the last
  // number given.
  fs::remove(dir_.path / "chip.img");
  r = Run(with(with(bulk, {"1"}), serial));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"serial\":" + std::to_string(99990 + 7 * 20) + ","), std::string::npos)
      << r.out;
  ASSERT_EQ(Run({"--log", "prod.db", "--lot", "L-0042", "log", "export", "lot.csv"}).status, 0);
  const std::string csv = Get("lot.csv");
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 22) << csv;
  EXPECT_EQ(csv.rfind("time,programmer,chip_model,", 0), 0u);

  // Nothing but the log was left beside the user's files.
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir_.path)) names.insert(e.path().filename());
  EXPECT_EQ(names, (std::set<std::string>{"database.dat", "img.bin", "kest2.dll", "chip.img", "box",
                                          "prod.db", "lot.csv"}));
}

// Another program in the middle of writing the log: the run waits for it, then stops
// before the first chip rather than program one it could not record.
TEST_F(ProductionCli, ALockedLogStopsTheRunBeforeAnyChip) {
  std::string error;
  const auto holder = LogDatabase::Open(dir_.path / "prod.db", &error);
  ASSERT_TRUE(holder) << error;
  ASSERT_TRUE(holder->Execute("BEGIN IMMEDIATE", &error)) << error;
  const CliResult r = Run({"--yes", "--log", "prod.db", "auto", "img.bin", "--bulk", "2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("prod.db: database is locked"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("chip 1"), std::string::npos) << r.out;
  EXPECT_EQ(Get("chip.img").find_first_not_of('\xFF'), std::string::npos)
      << "a chip was programmed";
  ASSERT_TRUE(holder->Execute("ROLLBACK", &error)) << error;
}

}  // namespace
}  // namespace tarvix
