// SPDX-License-Identifier: GPL-3.0-or-later
#include "buffer/write_from_address.h"

#include <unistd.h>

#include <system_error>

#include "buffer/load_save.h"
#include "buffer/stream_copy.h"
#include "device/host.h"

namespace tarvix {

std::optional<std::uint32_t> ParseStartOffset(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > 0xFFFFFFFFull) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

WriteFromAddress::WriteFromAddress(std::filesystem::path temp_folder, Host& host, Loader load)
    : temp_folder_(std::move(temp_folder)), host_(host), load_(std::move(load)) {}

void WriteFromAddress::Open(std::filesystem::path file, std::uint32_t offset) {
  file_ = std::move(file);
  offset_ = offset;
  locked_ = !file_.empty() && IsCapFile(file_);
  state_text_ = kWfaStateInitial;
}

std::filesystem::path WriteFromAddress::ScratchPath() const {
  return temp_folder_ / kScratchFileName;
}

bool WriteFromAddress::TakeOverAddress(std::string_view text) {
  const std::optional<std::uint32_t> offset = ParseStartOffset(text);
  if (!offset) {
    (void)host_.MessageBox(kWfaNotANumber, kWriteFromAddressTitle, BoxIcon::kWarning,
                           BoxButtons::kOk);
    return false;
  }
  offset_ = *offset;
  return true;
}

bool WriteFromAddress::Browse(std::string_view typed_address, const Chooser& choose) {
  if (!TakeOverAddress(typed_address)) return false;
  const std::optional<std::filesystem::path> chosen = choose ? choose() : std::nullopt;
  if (!chosen) return true;
  file_ = *chosen;
  if (IsCapFile(file_)) {
    offset_ = kCapBaseAddress;
    locked_ = true;
  } else {
    locked_ = false;
  }
  return true;
}

WriteFromAddressOutcome WriteFromAddress::Fail(WriteFromAddressOutcome outcome,
                                               std::string_view text) {
  (void)host_.MessageBox(text, "error", BoxIcon::kError, BoxButtons::kOk);
  return outcome;
}

WriteFromAddressOutcome WriteFromAddress::Ok(std::string_view address_text,
                                             const std::filesystem::path& file) {
  file_ = file;
  // A box that holds no number stops here: going on with the previous offset would
  // load the file from a place the user did not ask for.
  if (!TakeOverAddress(address_text)) return WriteFromAddressOutcome::kNotANumber;

  std::error_code ec;
  if (!std::filesystem::is_directory(temp_folder_, ec))
    std::filesystem::create_directories(temp_folder_, ec);
  UniqueFd scratch = CreateTruncated(ScratchPath(), true);
  if (!scratch.Valid()) return Fail(WriteFromAddressOutcome::kScratchFailed, kWfaScratchFailed);

  // Only read: a read-only file (a write-protected medium) loads as well as any other.
  const UniqueFd source = OpenRegularForReading(file_);
  const std::int64_t length = source.Valid() ? FileLength(source.Get()) : -1;
  if (length < 0) return Fail(WriteFromAddressOutcome::kOpenFailed, kWfaOpenFailed);
  if (offset_ >= static_cast<std::uint64_t>(length))
    return Fail(WriteFromAddressOutcome::kOutOfRange, kWfaOutOfRange);

  state_text_ = kWfaDealing;
  const CopyResult copied = CopyRange(
      source.Get(), offset_, static_cast<std::uint64_t>(length) - offset_, scratch.Get(), 0);
  if (copied != CopyResult::kOk || !scratch.Close()) {
    // Never load part of the tail as if it were all of it.
    std::filesystem::resize_file(ScratchPath(), 0, ec);
    return copied == CopyResult::kReadFailed
               ? Fail(WriteFromAddressOutcome::kOpenFailed, kWfaOpenFailed)
               : Fail(WriteFromAddressOutcome::kScratchFailed, kWfaScratchFailed);
  }
  return load_(ScratchPath()) ? WriteFromAddressOutcome::kLoaded
                              : WriteFromAddressOutcome::kLoadFailed;
}

bool LoadFromFileAddress(const std::filesystem::path& temp_folder, Host& host,
                         const WriteFromAddress::Loader& load, const std::filesystem::path& file,
                         std::uint32_t base_address) {
  WriteFromAddress dialog(temp_folder, host, load);
  dialog.Open(file, base_address);
  return dialog.Ok() == WriteFromAddressOutcome::kLoaded;
}

}  // namespace tarvix
