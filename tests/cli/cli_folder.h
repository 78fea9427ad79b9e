// SPDX-License-Identifier: GPL-3.0-or-later
// A test's own folder for tarvix-cli runs: the catalogue and img.bin (70000 bytes of
// the test pattern) in a scratch folder that goes when the test ends.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "cli/cli_spawn.h"
#include "operations/operation_fixture.h"

namespace tarvix::testing {

class CliFolderTest : public ::testing::Test {
 protected:
  CliFolderTest() {
    std::filesystem::copy_file(TARVIX_DATABASE_DAT, dir_.path / "database.dat");
    image_ = std::string(70000, '\0');
    for (std::size_t i = 0; i < image_.size(); ++i) image_[i] = static_cast<char>(PatternByte(i));
    Put("img.bin", image_);
  }
  void Put(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_.path / name, std::ios::binary) << bytes;
  }
  std::string Get(const std::string& name) const { return SpawnedCli::Slurp(dir_.path / name); }

  ScratchFolder dir_;
  std::string image_;
};

}  // namespace tarvix::testing
