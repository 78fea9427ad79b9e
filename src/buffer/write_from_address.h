// SPDX-License-Identifier: GPL-3.0-or-later
// Write from a file address: copies a file's tail from a start offset into the
// scratch file "temp/tempFile.bin" and loads that as the image, so the offset
// becomes address 0. ".cap" files come here from the load with the offset fixed at
// their 2048-byte header. Writing the image to a chip is a separate step.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tarvix {

class Host;

inline constexpr std::string_view kWriteFromAddressTitle = "Write from specify file addr";
inline constexpr std::string_view kWriteFromAddressNote =
    "(this address will take as the base 0 \r\naddress)";
inline constexpr std::string_view kScratchFileName = "tempFile.bin";
inline constexpr std::uint32_t kCapBaseAddress = 2048;

inline constexpr std::string_view kWfaStateInitial = "State";
inline constexpr std::string_view kWfaDealing = "file dealing...";
inline constexpr std::string_view kWfaScratchFailed = "temp file create failed!   ";
inline constexpr std::string_view kWfaOpenFailed = "file open failed!   ";
inline constexpr std::string_view kWfaOutOfRange = "the address is out of range!   ";
// The address box's own prompt when it does not hold a decimal unsigned number.
inline constexpr std::string_view kWfaNotANumber = "Please enter an unsigned integer.";

enum class WriteFromAddressOutcome : std::uint8_t {
  kNotANumber,     // the address box holds no unsigned 32-bit decimal number
  kScratchFailed,  // the scratch file cannot be created (or written)
  kOpenFailed,     // the chosen file cannot be opened (or read)
  kOutOfRange,     // the offset lies at or past the file's end
  kLoadFailed,     // the scratch file was made but its load failed (it said why)
  kLoaded,
};

// The start offset of a box text: decimal digits, surrounding blanks allowed, at
// most 4294967295.
[[nodiscard]] std::optional<std::uint32_t> ParseStartOffset(std::string_view text);

// The "Write from specify file addr" dialog.
class WriteFromAddress {
 public:
  // The load operation (FileLoadSave::Load with user_chosen false); true once loaded.
  using Loader = std::function<bool(const std::filesystem::path&)>;

  WriteFromAddress(std::filesystem::path temp_folder, Host& host, Loader load);

  // Menu "Write from specify file addr...": offset 0, no file, address box editable.
  // A ".cap" file from the load: Open(path, 2048) locks the address box.
  void Open(std::filesystem::path file = {}, std::uint32_t offset = 0);

  [[nodiscard]] std::uint32_t Offset() const { return offset_; }
  [[nodiscard]] std::string AddressText() const { return std::to_string(offset_); }
  [[nodiscard]] const std::filesystem::path& File() const { return file_; }
  [[nodiscard]] bool AddressLocked() const { return locked_; }
  [[nodiscard]] const std::string& StateText() const { return state_text_; }
  [[nodiscard]] std::filesystem::path ScratchPath() const;

  // The open dialog: the chosen file, nothing on Cancel.
  using Chooser = std::function<std::optional<std::filesystem::path>()>;
  // "...": takes over the typed address first; a box that holds no number gets its
  // prompt and no open dialog, so no file the user picks is thrown away (false).
  // Then `choose` asks for the file and it is adopted (nothing on Cancel). A ".cap"
  // file sets the offset to 2048 and locks the address box; any other file unlocks
  // it and keeps the offset.
  bool Browse(std::string_view typed_address, const Chooser& choose);

  // OK with the boxes' texts. On kLoaded, and on kLoadFailed (the load has reported
  // its failure), the dialog closes; on every other outcome it stays open.
  WriteFromAddressOutcome Ok(std::string_view address_text, const std::filesystem::path& file);
  // The same with the values already in the dialog (the ".cap" route without a window).
  WriteFromAddressOutcome Ok() { return Ok(AddressText(), file_); }

 private:
  // False (and the prompt) when the text is no number; the offset is then kept.
  bool TakeOverAddress(std::string_view text);
  WriteFromAddressOutcome Fail(WriteFromAddressOutcome outcome, std::string_view text);

  std::filesystem::path temp_folder_;
  Host& host_;
  Loader load_;
  std::filesystem::path file_;
  std::uint32_t offset_ = 0;
  bool locked_ = false;
  std::string state_text_{kWfaStateInitial};
};

// FileLoadSave's ".cap" route where no dialog is shown (the command-line tool): the
// dialog's OK with the file and the base address at once.
[[nodiscard]] bool LoadFromFileAddress(const std::filesystem::path& temp_folder, Host& host,
                                       const WriteFromAddress::Loader& load,
                                       const std::filesystem::path& file,
                                       std::uint32_t base_address);

}  // namespace tarvix
