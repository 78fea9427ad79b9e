// SPDX-License-Identifier: GPL-3.0-or-later
// Building the simulated programmer from the catalogue, as both front ends do.
#include "sim/sim_setup.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "sim/virtual_programmer.h"

namespace tarvix::sim {
namespace {

class SimSetupTest : public ::testing::Test {
 protected:
  SimSetupTest() {
    catalogue_.Load(TARVIX_DATABASE_DAT, [](std::string_view, std::string_view) {});
  }
  ChipCatalogue catalogue_;
};

TEST_F(SimSetupTest, ModelsAreFoundExactlyFirstThenInAnyCaseAndDefaultToTheCommonFlash) {
  const auto exact = FindSimulatedModel(catalogue_, "W25Q32BV");
  ASSERT_TRUE(exact.has_value());
  EXPECT_EQ(catalogue_.Record(*exact).model, "W25Q32BV");
  const auto any_case = FindSimulatedModel(catalogue_, "w25q32bv");
  ASSERT_TRUE(any_case.has_value());
  EXPECT_EQ(*any_case, *exact);
  const auto fallback = FindSimulatedModel(catalogue_, "");
  ASSERT_TRUE(fallback.has_value());
  EXPECT_EQ(catalogue_.Record(*fallback).model, kDefaultSimulatedChip);
  EXPECT_FALSE(FindSimulatedModel(catalogue_, "NO-SUCH-CHIP").has_value());
  EXPECT_FALSE(FindSimulatedModel(ChipCatalogue(), "").has_value());
}

TEST_F(SimSetupTest, TimingNamesAreTheTwoOnly) {
  EXPECT_EQ(ParseTiming("instant"), Timing::kInstant);
  EXPECT_EQ(ParseTiming("realistic"), Timing::kRealistic);
  EXPECT_FALSE(ParseTiming("Realistic").has_value());
  EXPECT_FALSE(ParseTiming("").has_value());
}

TEST_F(SimSetupTest, SimulatorHasTheChipInItsSocketOrNone) {
  std::string error;
  auto sim = MakeSimulator(catalogue_, {"W25Q32BV", "", Timing::kInstant}, &error);
  ASSERT_TRUE(sim.has_value()) << error;
  ASSERT_NE(sim->bus->Programmer().chip(), nullptr);
  EXPECT_EQ(sim->bus->Programmer().chip()->description().model, "W25Q32BV");
  EXPECT_EQ(sim->bus->timing(), Timing::kInstant);

  auto empty = MakeSimulator(catalogue_, {"NONE", "", Timing::kRealistic}, &error);
  ASSERT_TRUE(empty.has_value()) << error;
  EXPECT_EQ(empty->bus->Programmer().chip(), nullptr);
  EXPECT_EQ(empty->bus->timing(), Timing::kRealistic);
}

TEST_F(SimSetupTest, BadChoicesNameTheOptionAtFault) {
  std::string error;
  EXPECT_FALSE(MakeSimulator(catalogue_, {"NO-SUCH-CHIP", "", Timing::kInstant}, &error));
  EXPECT_EQ(error, "--simulate: the catalogue has no chip model \"NO-SUCH-CHIP\"");
  EXPECT_FALSE(MakeSimulator(catalogue_, {"none", "chip.bin", Timing::kInstant}, &error));
  EXPECT_EQ(error, "--sim-image needs a chip in the simulated socket");
  EXPECT_FALSE(MakeSimulator(catalogue_, {"W25Q32BV", "/no/such/folder/chip.bin", Timing::kInstant},
                             &error));
  EXPECT_EQ(error.rfind("--sim-image: ", 0), 0u) << error;
  EXPECT_EQ(MakeSimulatedChip(catalogue_, "NO-SUCH-CHIP", &error), nullptr);
}

}  // namespace
}  // namespace tarvix::sim
