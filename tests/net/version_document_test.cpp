// SPDX-License-Identifier: GPL-3.0-or-later
// The version document's two bytes, the five lines of the "Version" dialog and the
// status texts of a refused fetch.
#include "net/version_document.h"

#include <gtest/gtest.h>

#include "net/http_fetch.h"

namespace tarvix {
namespace {

TEST(VersionLines, NewerFirmwareOnTheServer) {
  const VersionLines l = MakeVersionLines(ParseVersionDocument("\x40\x21"), 0x10);
  EXPECT_EQ(l.new_software, "new software version: V4.0  \r\n");
  EXPECT_EQ(l.new_firmware, "new firmware version: V2.1     \r\n");
  EXPECT_EQ(l.current_software, "current software version: V4.0     \r\n");
  EXPECT_EQ(l.current_firmware, "current firmware version: V2.0   ");
  EXPECT_EQ(l.verdict, "current software is latest,new firmware available");
  EXPECT_EQ(l.InOrder(),
            (std::vector<std::string>{l.new_software, l.new_firmware, l.current_software,
                                      l.current_firmware, l.verdict}));
}

TEST(VersionLines, VerdictsAtTheirBoundaries) {
  EXPECT_EQ(MakeVersionLines(ParseVersionDocument("\x41\x21"), 0x11).verdict,
            "new software is available,current firmware is latest");
  // Same firmware (0x11 + 0x10 == 0x21) and an older one on the server.
  EXPECT_EQ(MakeVersionLines(ParseVersionDocument("\x40\x21"), 0x11).verdict,
            "current software is latest,current firmware is latest");
  EXPECT_EQ(MakeVersionLines(ParseVersionDocument("\x3F\x10"), 0x12).verdict,
            "current software is latest,current firmware is latest");
  // A programmer byte whose major reads 16 never compares as older.
  const VersionLines high = MakeVersionLines(ParseVersionDocument("\x40\xFF"), 0xF5);
  EXPECT_EQ(high.current_firmware, "current firmware version: V10.5   ");
  EXPECT_EQ(high.verdict, "current software is latest,current firmware is latest");
}

TEST(VersionLines, MissingBytesReadAsZero) {
  const VersionLines empty = MakeVersionLines(ParseVersionDocument(""), 0x10);
  EXPECT_EQ(empty.new_software, "new software version: V0.0  \r\n");
  EXPECT_EQ(empty.new_firmware, "new firmware version: V0.0     \r\n");
  EXPECT_EQ(empty.verdict, "current software is latest,current firmware is latest");
  const VersionDocument one = ParseVersionDocument("\x52");
  EXPECT_EQ(one.newest_software, 0x52);
  EXPECT_EQ(one.newest_firmware, 0);
  // Bytes past the second mean nothing.
  const VersionDocument more = ParseVersionDocument(std::string("\x12\x34\x56\x00", 4));
  EXPECT_EQ(more.newest_software, 0x12);
  EXPECT_EQ(more.newest_firmware, 0x34);
}

TEST(VersionLines, WithoutAReadableProgrammerOnlyItsLineChanges) {
  for (const std::optional<std::uint8_t> byte :
       {std::optional<std::uint8_t>{}, std::optional<std::uint8_t>{0xFF}}) {
    const VersionLines l = MakeVersionLines(ParseVersionDocument("\x41\x30"), byte);
    EXPECT_EQ(l.current_firmware, "current firmware version access failed");
    EXPECT_EQ(l.verdict, "new software is available");
    EXPECT_EQ(l.new_firmware, "new firmware version: V3.0     \r\n");
  }
  EXPECT_EQ(WithoutLineEnd("new software version: V4.0  \r\n"), "new software version: V4.0  ");
  EXPECT_EQ(WithoutLineEnd("current firmware version: V2.0   "),
            "current firmware version: V2.0   ");
}

TEST(HttpStatus, TextsOfEveryClass) {
  EXPECT_EQ(HttpStatusText(0), "未知错误:#0");
  EXPECT_EQ(HttpStatusText(199), "未知错误:#199");
  EXPECT_EQ(HttpStatusText(600), "未知错误:#600");
  EXPECT_EQ(HttpStatusText(204), "获取成功:#204");
  EXPECT_EQ(HttpStatusText(302), "信息代码:#302");
  EXPECT_EQ(HttpStatusText(400), "请求无法解析:#400");
  EXPECT_EQ(HttpStatusText(404), "请求地址不存在:#404");
  EXPECT_EQ(HttpStatusText(405), "服务器不支持:#405");
  EXPECT_EQ(HttpStatusText(499), "请求错误:#499");
  EXPECT_EQ(HttpStatusText(500), "未知服务器错误:#500");
  EXPECT_EQ(HttpStatusText(503), "服务器容量不足:#503");
  EXPECT_EQ(HttpStatusText(599), "服务器错误:#599");
}

TEST(HttpStatus, ClassFlagsAcceptOnlyTheirRange) {
  using namespace status_class;
  EXPECT_TRUE(StatusAccepted(200, k2xx));
  EXPECT_TRUE(StatusAccepted(299, k2xx));
  EXPECT_FALSE(StatusAccepted(300, k2xx));
  EXPECT_FALSE(StatusAccepted(199, k2xx | k3xx | k4xx | k5xx));
  EXPECT_FALSE(StatusAccepted(600, k2xx | k3xx | k4xx | k5xx));
  EXPECT_TRUE(StatusAccepted(404, k4xx));
  EXPECT_FALSE(StatusAccepted(404, k2xx | k3xx | k5xx));
  EXPECT_TRUE(StatusAccepted(503, k2xx | k5xx));
  EXPECT_TRUE(StatusAccepted(301, k3xx));
}

}  // namespace
}  // namespace tarvix
