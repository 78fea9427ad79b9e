// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cli/cli_runner.h"

namespace tarvix {
namespace {

using testing::RunCli;

const std::string kDb = TARVIX_DATABASE_DAT;

// The program's private files land in the folder it runs in: a scratch one.
class CliVersion : public ::testing::Test {
 protected:
  CliVersion() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "tarvix-version-cli-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) dir_ = pattern;
  }
  ~CliVersion() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  testing::CliResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"--database", kDb});
    return RunCli(args, dir_);
  }
  std::string Trace() const {
    std::ifstream in(dir_ / "usb.trace");
    return std::string((std::istreambuf_iterator<char>(in)), {});
  }
  std::filesystem::path dir_;
};

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

TEST_F(CliVersion, PrintsTheVersionBoxOfTheSimulatedProgrammerOnce) {
  const auto r = Run({"--simulate", "version"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "firmware SN:123456\nfirmware version:VRNT_Tarvix FirmWare V2.2     \n");
  // The result is on stdout only; stderr has the start-up recognition's line.
  EXPECT_EQ(r.err.find("firmware SN"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("find SPI FLASH\n"), std::string::npos) << r.err;
}

TEST_F(CliVersion, JsonHasOkStatusVersionAndSerial) {
  const auto r = Run({"--simulate", "--json", "version"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "{\"ok\":true,\"status\":\"find SPI FLASH\",\"version\":\"V2.2\",\"serial\":\"123456\","
            "\"serial_number\":123456,\"text\":\"\\r\\nfirmware SN:123456\\r\\nfirmware "
            "version:VRNT_Tarvix FirmWare V2.2     \"}\n");
}

// The same start-up as the window: a recognition, then the two queries, each run
// followed by the worker's end-of-run command.
TEST_F(CliVersion, TraceShowsTheStartUpBothQueriesAndTheEndOfRun) {
  const auto r = Run({"--simulate", "--trace", "usb.trace", "version"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string text = Trace();
  const std::size_t version = text.find("INT-OUT  ep=0x02 len=20 timeout=100 result=20 | A5 12 ");
  ASSERT_NE(version, std::string::npos) << text;
  EXPECT_NE(text.rfind("| A5 07 ", version), std::string::npos) << "no recognition before it";
  EXPECT_NE(text.find("BULK-IN  ep=0x83 len=1 timeout=100 result=1 | 12", version),
            std::string::npos);
  EXPECT_NE(text.find("INT-OUT  ep=0x02 len=20 timeout=100 result=20 | A5 16 ", version),
            std::string::npos);
  EXPECT_NE(text.find("BULK-IN  ep=0x83 len=7 timeout=100 result=7 |", version), std::string::npos);
  const std::size_t end = text.find("timeout=1000 result=20 | A5 09 ", version);
  EXPECT_NE(end, std::string::npos) << text.substr(version);
  EXPECT_EQ(Count(text, "| A5 09 "), 2u) << "one after the recognition, one after the query";
  // The link is closed again at the end.
  EXPECT_NE(text.find("RELEASE-INTERFACE", end), std::string::npos);

  EXPECT_EQ(Run({"--simulate", "version", "now"}).status, 2);
}

// Found in its update mode at start-up, the programmer is not asked for its version.
TEST_F(CliVersion, AProgrammerInUpdateModeIsRefused) {
  const auto r = Run({"--simulate", "--sim-dfu", "--trace", "usb.trace", "version"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("device is in dfu mode!\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("  device is in dfu mode\n"), std::string::npos) << r.err;
  EXPECT_EQ(Trace().find("| A5 12 "), std::string::npos);
}

}  // namespace
}  // namespace tarvix
