// Production journeys through the real window: load files in the formats toolchains
// write, checked with srec_cat and sha256sum as independent judges.
#include <cstdio>
#include <cstdlib>

#include "gui/window_fixture.h"
#include "state/control_ids.h"

namespace tarvix::gui::testing {
namespace {

namespace c = control_id;

class ProductionJourney : public WindowFixture {
 protected:
  // Runs `command` in the scratch folder; its standard output.
  std::string Sh(const std::string& command) {
    const std::string line = "cd '" + dir_.path().string() + "' && " + command;
    std::string out;
    if (FILE* pipe = ::popen(line.c_str(), "r")) {
      char chunk[4096];
      for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) out.append(chunk, n);
      EXPECT_EQ(::pclose(pipe), 0) << line;
    }
    return out;
  }
  [[nodiscard]] std::string ImageBytes() const {
    std::string bytes(program_->Image().Size(), '\0');
    const std::int64_t got = program_->Image().ReadWorking(
        0, std::span(reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size()));
    EXPECT_EQ(got, static_cast<std::int64_t>(bytes.size()));
    return bytes;
  }
  [[nodiscard]] const ShownBox* LastBox() const {
    return boxes_.empty() ? nullptr : &boxes_.back();
  }
};

TEST_F(ProductionJourney, RecordFilesOpenAndSaveInTheirFormats) {
  Open();
  MakeImage("part.bin", 3000);
  // An S-record file with a gap: the gap and the range before the records read 0xFF.
  Sh("srec_cat part.bin -binary -offset 0x100 part.bin -binary -offset 0x2000 -o fw.s19 "
     "-motorola");
  OpenFile(dir_.path() / "fw.s19");
  EXPECT_EQ(Status(), "open succeed");
  EXPECT_TRUE(file_dialogs_.back().contains("*.srec")) << file_dialogs_.back().toStdString();
  EXPECT_TRUE(file_dialogs_.back().contains("*.hex"));
  Sh("srec_cat fw.s19 -motorola -fill 0xFF 0 0x2BB8 -o expected.bin -binary");
  const std::string image = ImageBytes();
  ASSERT_EQ(image.size(), 0x2BB8u);
  EXPECT_TRUE(image == ReadFile(dir_.path() / "expected.bin"));

  // An edit saved goes back into the file as records, in its own format.
  TypeIntoCell(1, 2, "5a");
  Choose("&Save");
  EXPECT_EQ(Status(), "file saved");
  EXPECT_EQ(ReadFile(dir_.path() / "fw.s19").substr(0, 2), "S0");
  Sh("srec_cat fw.s19 -motorola -fill 0xFF 0 0x2BB8 -o saved.bin -binary");
  std::string edited = image;
  edited[1] = '\x5A';
  EXPECT_TRUE(ReadFile(dir_.path() / "saved.bin") == edited);

  // Save As in the format the name's extension says: srec_cat reads it back.
  WillChoose(dir_.path() / "copy.hex");
  Choose("Save &As");
  EXPECT_EQ(Status(), "file saved");
  Sh("srec_cat copy.hex -intel -fill 0xFF 0 0x2BB8 -o back.bin -binary");
  EXPECT_TRUE(ReadFile(dir_.path() / "back.bin") == edited);
  EXPECT_EQ(ReadFile(dir_.path() / "copy.hex").substr(0, 1), ":");

  // A content-recognised record file under a name no extension claims.
  std::filesystem::copy_file(dir_.path() / "copy.hex", dir_.path() / "copy.fw");
  OpenFile(dir_.path() / "copy.fw");
  EXPECT_EQ(Status(), "open succeed");
  EXPECT_TRUE(ImageBytes() == edited);
  // .bin is raw, whatever it starts with.
  std::filesystem::copy_file(dir_.path() / "copy.hex", dir_.path() / "raw.bin");
  OpenFile(dir_.path() / "raw.bin");
  EXPECT_TRUE(ImageBytes() == ReadFile(dir_.path() / "copy.hex"));
}

TEST_F(ProductionJourney, ABadRecordFileIsRefusedWithItsLineAndNothingLoads) {
  Open();
  OpenFile(MakeImage("kept.bin", 512));
  // Line 2's checksum is wrong.
  std::string hex = Sh("srec_cat kept.bin -binary -o - -intel");
  const std::size_t second = hex.find('\n') + 1;
  const std::size_t end = hex.find('\n', second);
  char& last = hex[end - 1 - (hex[end - 1] == '\r' ? 1 : 0)];
  last = last == '0' ? '1' : '0';
  {
    std::FILE* f = std::fopen((dir_.path() / "bad.hex").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(hex.data(), 1, hex.size(), f);
    std::fclose(f);
  }
  const std::size_t boxes_before = boxes_.size();
  OpenFile(dir_.path() / "bad.hex");
  ASSERT_EQ(boxes_.size(), boxes_before + 1);
  EXPECT_NE(LastBox()->text.find("bad.hex"), std::string::npos) << LastBox()->text;
  EXPECT_NE(LastBox()->text.find("line 2"), std::string::npos) << LastBox()->text;
  EXPECT_NE(Title().find("kept.bin"), std::string::npos);
  EXPECT_TRUE(ImageBytes() == ReadFile(dir_.path() / "kept.bin"));

  // Records past the chip in the socket (4 MiB) are refused the same way.
  Sh("srec_cat kept.bin -binary -offset 0x400000 -o far.srec -motorola");
  OpenFile(dir_.path() / "far.srec");
  ASSERT_EQ(boxes_.size(), boxes_before + 2);
  EXPECT_NE(LastBox()->text.find("far.srec: its records run from 0x400000"), std::string::npos)
      << LastBox()->text;
  EXPECT_NE(Title().find("kept.bin"), std::string::npos);
}

}  // namespace
}  // namespace tarvix::gui::testing
