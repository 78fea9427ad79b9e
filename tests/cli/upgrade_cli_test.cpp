// tarvix-cli upgrade and tvx make, run as the real binary on the simulated programmer
// in a folder of their own.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
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
  const auto r = Run({"tvx", "make", "payload.bin", "fw.tvx"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "fw.tvx: 7 bytes, checksum 304\n");
  EXPECT_EQ(ReadFile("fw.tvx"), (Bytes{0x10, 0x20, 0xFF, 0x01, 0x00, 0x01, 0x30}));

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

  const auto r = Run({"--database", kDb, "--simulate", "upgrade", "fw.tvx"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "firmware upgrade succeed.please restart the device.\n");
  const auto j = Run({"--database", kDb, "--simulate", "--json", "upgrade", "fw.tvx"});
  ASSERT_EQ(j.status, 0) << j.err;
  EXPECT_EQ(j.out,
            "{\"ok\":true,\"status\":\"\",\"failure\":null,\"text\":\"firmware upgrade "
            "succeed.please restart the device.\",\"file\":\"fw.tvx\",\"dfu_mode\":true}\n");
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
  EXPECT_EQ(Run({"--database", kDb, "--simulate", "upgrade"}).status, 2);
}

}  // namespace
}  // namespace tarvix
