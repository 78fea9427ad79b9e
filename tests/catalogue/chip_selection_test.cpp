// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/chip_selection.h"
#include "device/command_packet.h"

#include <gtest/gtest.h>

namespace tarvix {
namespace {

const char kText[] =
    "$25 SPI FLASH\r\n"
    "#Winbond:\r\n"
    "@W25Q80:256:4096:1MB:N:000:EF4014:00EF13:3.3:000\r\n"
    "@W25Q128:256:4096:16MB:N:000:EF4018:00EF17:3.3:000\r\n"
    "#Macronix:\r\n"
    "@MX25L1606E:256:4096:2MB:N:000:C22015:00C214:3.3:000\r\n"
    "$24 EEPROM\r\n"
    "#Atmel:\r\n"
    "@AT24C02:8:N:256B:A0:100:000000:000000:5:100\r\n"
    "$25 EEPROM\r\n"
    "#ST:\r\n"
    "@M95010:16:N:128B:N:000:000000:000000:5:210\r\n"
    "$93 EEPROM\r\n"
    "#Atmel:\r\n"
    "@93C46(8bit):N:N:128B:N:000:000000:000000:5:300\r\n"
    "@93C46(16bit):N:N:64*16:N:000:000000:000000:5:301\r\n";

class ChipSelectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(catalogue_.Parse({reinterpret_cast<const std::uint8_t*>(kText), sizeof kText - 1},
                                 [](std::string_view, std::string_view) {}));
    selection_.AddListener([this](ChipSelection::Change c) { changes_.push_back(c); });
    selection_.Initialise();
  }
  ChipCatalogue catalogue_;
  CommandPacket packet_;
  MainState state_;
  ChipSelection selection_{catalogue_, packet_, state_};
  std::vector<ChipSelection::Change> changes_;
};

TEST_F(ChipSelectionTest, StartUpMakesTheFirstRecordCurrent) {
  EXPECT_EQ(selection_.Types().size(), 4u);
  EXPECT_EQ(selection_.Manufacturers(), (std::vector<std::string>{"Winbond", "Macronix"}));
  EXPECT_EQ(selection_.Models(), (std::vector<std::string>{"W25Q80", "W25Q128"}));
  EXPECT_EQ(state_.selected_chip_index, 0);
  EXPECT_EQ(state_.chip_capacity, 1u << 20);
  EXPECT_EQ(selection_.CapacityLabel(), "8Mbits/1Mbytes");
  EXPECT_EQ(selection_.Picture(), 1);
  EXPECT_EQ(packet_.Byte(0), 0xA5);
  EXPECT_EQ(packet_.Byte(19), 0x5A);
}

TEST_F(ChipSelectionTest, ChoosingTypeOrManufacturerRefillsTheListsBelow) {
  selection_.ChooseManufacturer(1);
  EXPECT_EQ(selection_.CurrentType(), "25 SPI FLASH");
  EXPECT_EQ(selection_.Models(), (std::vector<std::string>{"MX25L1606E"}));
  EXPECT_EQ(state_.selected_chip_index, 2);

  selection_.ChooseType(3);
  EXPECT_EQ(selection_.Manufacturers(), (std::vector<std::string>{"Atmel"}));
  EXPECT_EQ(selection_.CurrentModel(), "93C46(8bit)");
  EXPECT_EQ(selection_.Picture(), 4);
  selection_.ChooseModel(1);
  EXPECT_EQ(state_.chip_capacity, 128u);
  EXPECT_EQ(packet_.Byte(1) & 0x40, 0x40);  // word organisation
  EXPECT_EQ(selection_.Picture(), 5);
  // The entries already shown, picked again, leave the chip as it is.
  selection_.ChooseType(3);
  selection_.ChooseManufacturer(0);
  EXPECT_EQ(selection_.ModelIndex(), 1);
  EXPECT_EQ(state_.chip_capacity, 128u);
}

TEST_F(ChipSelectionTest, SelectRecordShowsItInAllListsAndDetails) {
  selection_.SelectRecord(3);
  EXPECT_EQ(selection_.CurrentType(), "24 EEPROM");
  EXPECT_EQ(selection_.CurrentManufacturer(), "Atmel");
  EXPECT_EQ(selection_.CurrentModel(), "AT24C02");
  EXPECT_EQ(selection_.CapacityLabel(), "2Kbits/256bytes");
  EXPECT_EQ(selection_.Picture(), 6);
  const std::string details = selection_.DetailsText();
  EXPECT_EQ(
      details.rfind("当前编号:3\r\n芯片信息:\r\n类型:24 EEPROM\r\n厂商:Atmel\r\n型号:AT24C02\r\n"
                    "页大小:8          \r\n扇区大小:N\r\n容量:256B\r\n",
                    0),
      0u)
      << details;
  const std::string tail = "内部编号:3\r\n对应自动指令:A5|80|0100|03|00|00000100|A0|0100|";
  EXPECT_NE(details.find(tail), std::string::npos) << details;
  EXPECT_EQ(details.substr(details.size() - 9), "|5A      ");
}

TEST(CapacityLabel, PicksUnitsByBitsAndBytes) {
  EXPECT_EQ(CapacityLabelText(256), "2Kbits/256bytes");
  EXPECT_EQ(CapacityLabelText(1536), "12Kbits/1Kbytes");
  EXPECT_EQ(CapacityLabelText(128), "1Kbits/128bytes");
  EXPECT_EQ(CapacityLabelText(16u << 20), "128Mbits/16Mbytes");
  EXPECT_EQ(CapacityLabelText(4194304), "32Mbits/4Mbytes");
  EXPECT_EQ(CapacityLabelText(512u << 20), "4Gbits/512Mbytes");
  EXPECT_EQ(CapacityLabelText(0xFFFFFFFFu), "31Gbits/3Gbytes");
  EXPECT_EQ(CapacityLabelText(64), "512bits/64bytes");
}

TEST(ChipPicture, FollowsTheOperationType) {
  EXPECT_EQ(PictureForOperationType("020"), 1);
  EXPECT_EQ(PictureForOperationType("110"), 6);
  EXPECT_EQ(PictureForOperationType("220"), 2);
  EXPECT_EQ(PictureForOperationType("201"), 3);
  EXPECT_EQ(PictureForOperationType("310"), 4);
  EXPECT_EQ(PictureForOperationType("301"), 5);
  EXPECT_EQ(PictureForOperationType("302"), 0);
  EXPECT_EQ(PictureForOperationType("9"), 0);
}

TEST(ChipSelectionEmpty, EmptyCatalogueLeavesEverythingUnset) {
  ChipCatalogue catalogue;
  CommandPacket packet;
  MainState state;
  ChipSelection selection(catalogue, packet, state);
  selection.Initialise();
  EXPECT_TRUE(selection.Types().empty());
  EXPECT_EQ(selection.CapacityLabel(), "0");
  EXPECT_EQ(selection.CurrentRecord(), nullptr);
  EXPECT_EQ(state.chip_capacity, 0u);
}

}  // namespace
}  // namespace tarvix
