#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "cli/cli_runner.h"

namespace tarvix {
namespace {

using testing::RunCli;

const std::string kDb = TARVIX_DATABASE_DAT;

TEST(CliVersion, PrintsTheVersionBoxOfTheSimulatedProgrammer) {
  const auto r = RunCli({"--database", kDb, "--simulate", "version"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "firmware SN:123456\nfirmware version:VRNT_Tarvix FirmWare V2.2     \n");
  // The box itself goes to stderr with its title, like every box of the tool.
  EXPECT_EQ(r.err.find("version information: \nfirmware SN:123456\n"), 0u) << r.err;
}

TEST(CliVersion, JsonHasOkStatusVersionAndSerial) {
  const auto r = RunCli({"--database", kDb, "--simulate", "--json", "version"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "{\"ok\":true,\"status\":\"\",\"version\":\"V2.2\",\"serial\":\"123456\","
            "\"serial_number\":123456,\"text\":\"\\r\\nfirmware SN:123456\\r\\nfirmware "
            "version:VRNT_Tarvix FirmWare V2.2     \"}\n");
}

TEST(CliVersion, TraceShowsBothQueriesAndArgumentsAreRefused) {
  const auto trace = std::filesystem::temp_directory_path() /
                     ("tarvix_version_trace_" + std::to_string(::getpid()));
  const auto r = RunCli({"--database", kDb, "--simulate", "--trace", trace.string(), "version"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::ifstream in(trace);
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  std::filesystem::remove(trace);
  // Code 18 then code 22, each a 20-byte packet with 100 ms, then the 1- and 7-byte replies.
  std::size_t packets = 0;
  for (std::size_t p = text.find("INT-OUT  ep=0x02 len=20 timeout=100 result=20 | A5 ");
       p != std::string::npos;
       p = text.find("INT-OUT  ep=0x02 len=20 timeout=100 result=20 | A5 ", p + 1))
    ++packets;
  EXPECT_EQ(packets, 2u) << text;
  EXPECT_NE(text.find("BULK-IN  ep=0x83 len=1 timeout=100 result=1 | 12"), std::string::npos);
  EXPECT_NE(text.find("BULK-IN  ep=0x83 len=7 timeout=100 result=7 |"), std::string::npos);
  // The link is closed again at the end.
  EXPECT_NE(text.find("RELEASE-INTERFACE"), std::string::npos);

  const auto bad = RunCli({"--database", kDb, "--simulate", "version", "now"});
  EXPECT_EQ(bad.status, 2);
}

}  // namespace
}  // namespace tarvix
