// SPDX-License-Identifier: GPL-3.0-or-later
// tarvix-cli upgrade and tvx make, run as the real binary on the simulated programmer
// in a folder of their own.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "cli/cli_runner.h"
#include "firmware/tvx_image.h"

namespace tarvix {
namespace {

using testing::RunCli;
using Bytes = std::vector<std::uint8_t>;

const std::string kDb = TARVIX_DATABASE_DAT;

class CliUpgrade : public ::testing::Test {
 protected:
  CliUpgrade() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "tarvix-upgrade-cli-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) dir = pattern;
  }
  ~CliUpgrade() override {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  testing::CliResult Run(const std::vector<std::string>& args) { return RunCli(args, dir); }
  void WriteFile(const std::string& name, const Bytes& bytes) const {
    std::ofstream out(dir / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  Bytes ReadFile(const std::string& name) const {
    std::ifstream in(dir / name, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), {});
  }

  std::filesystem::path dir;
};

TEST_F(CliUpgrade, TvxMakeWritesAValidImage) {
  WriteFile("payload.bin", Bytes{0x10, 0x20, 0xFF, 0x01});
  WriteFile("fw.tvx.part", Bytes{0x42});  // the user's, whatever its name suggests
  const auto r = Run({"tvx", "make", "payload.bin", "fw.tvx"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "fw.tvx: 7 bytes, checksum 304\n");
  EXPECT_EQ(ReadFile("fw.tvx"), (Bytes{0x10, 0x20, 0xFF, 0x01, 0x00, 0x01, 0x30}));
  EXPECT_EQ(ReadFile("fw.tvx.part"), Bytes{0x42});

  WriteFile("empty.bin", {});
  const auto empty = Run({"tvx", "make", "empty.bin", "e.tvx"});
  EXPECT_EQ(empty.status, 1);
  EXPECT_NE(empty.err.find("the payload is empty"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir / "e.tvx"));
  WriteFile("heavy.bin", Bytes(70000, 0xFF));
  EXPECT_EQ(Run({"tvx", "make", "heavy.bin", "h.tvx"}).status, 1);
  EXPECT_EQ(Run({"tvx", "make", "missing.bin", "m.tvx"}).status, 1);
  EXPECT_EQ(Run({"tvx", "make", "payload.bin"}).status, 2);
}

TEST_F(CliUpgrade, UpgradeSucceedsAndReportsTheDialogText) {
  Bytes payload(5000);
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i % 97);
  WriteFile("payload.bin", payload);
  ASSERT_EQ(Run({"tvx", "make", "payload.bin", "fw.tvx"}).status, 0);

  const auto r = Run({"--database", kDb, "--simulate", "--yes", "upgrade", "fw.tvx"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "firmware upgrade succeed.please restart the device.\n");
  const auto j = Run({"--database", kDb, "--simulate", "--yes", "--json", "upgrade", "fw.tvx"});
  ASSERT_EQ(j.status, 0) << j.err;
  // The last status is the start-up recognition's: the upgrade reports in its dialog.
  EXPECT_EQ(
      j.out,
      "{\"ok\":true,\"status\":\"find SPI FLASH\",\"failure\":null,\"text\":\"firmware "
      "upgrade succeed.please restart the device.\",\"file\":\"fw.tvx\",\"dfu_mode\":true}\n");
}

TEST_F(CliUpgrade, UpgradeRefusesABadFileWithFailureOne) {
  Bytes image = *MakeTvx(Bytes(3000, 0x11));
  image[5] ^= 1;
  WriteFile("bad.tvx", image);
  const auto r = Run({"--database", kDb, "--simulate", "--json", "upgrade", "bad.tvx"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "{\"ok\":false,\"status\":\"file error#1\",\"failure\":1,\"text\":\"file "
            "error#1\",\"file\":\"bad.tvx\",\"dfu_mode\":false}\n");
  EXPECT_NE(r.err.find("  file error#1"), std::string::npos);
  // The line after the program's own text says what is wrong with the file.
  EXPECT_NE(r.err.find("tarvix-cli: bad.tvx: its checksum does not match: the last 3 bytes say "
                       "0x00C738, the byte sum of the 3000 bytes before them is 0x00C737"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(Run({"--database", kDb, "--simulate", "upgrade"}).status, 2);
}

TEST_F(CliUpgrade, EveryUnusableFileIsNamedWithItsReason) {
  WriteFile("short.tvx", Bytes{1, 2});
  std::filesystem::create_directory(dir / "folder.tvx");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"short.tvx", "short.tvx: it holds 2 byte(s); a firmware image has at least 4"},
      {"missing.tvx", "missing.tvx: No such file or directory"},
      {"folder.tvx", "folder.tvx: it is a folder, not a file"}};
  for (const auto& [file, reason] : cases) {
    const auto r = Run({"--database", kDb, "--simulate", "upgrade", file});
    EXPECT_EQ(r.status, 1) << file;
    // A folder is no file at all: refused before the programmer is looked for.
    const std::string after = file == "folder.tvx" ? "" : "file error#1\n";
    EXPECT_NE(r.err.find(after + "tarvix-cli: " + reason), std::string::npos) << r.err;
  }
}

// The firmware is replaced only when the user says so.
TEST_F(CliUpgrade, UpgradeAsksFirst) {
  WriteFile("fw.tvx", *MakeTvx(Bytes(3000, 0x22)));
  const auto r =
      Run({"--database", kDb, "--simulate", "--trace", "usb.trace", "upgrade", "fw.tvx"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Information: the programmer's firmware will be replaced by fw.tvx ! "
                       "continue ?"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.out, "");
  std::ifstream in(dir / "usb.trace");
  const std::string trace((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(trace.find("| A5 15"), std::string::npos) << "the update mode was entered";
}

// Start-up recognition finds the programmer in its update mode, so the upgrade starts
// at once: no switch command, no reconnection, no handshake.
TEST_F(CliUpgrade, AProgrammerAlreadyInUpdateModeIsNotSwitchedAgain) {
  WriteFile("fw.tvx", *MakeTvx(Bytes(3000, 0x22)));
  const auto r = Run({"--database", kDb, "--simulate", "--sim-dfu", "--yes", "--trace", "usb.trace",
                      "upgrade", "fw.tvx"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("device is in dfu mode!"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "firmware upgrade succeed.please restart the device.\n");
  std::ifstream in(dir / "usb.trace");
  const std::string trace((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(trace.find("| A5 15"), std::string::npos) << "code 21 sent";
  EXPECT_EQ(trace.find("len=4 timeout=500 result=4 | A5 08"), std::string::npos) << "handshake";
  // The worker's end-of-run command follows the upgrade, as in the window.
  const std::size_t finish = trace.rfind("| A5 0A 00 5A");
  ASSERT_NE(finish, std::string::npos);
  EXPECT_NE(trace.find("| A5 09", finish), std::string::npos) << trace.substr(finish);
}

}  // namespace
}  // namespace tarvix
