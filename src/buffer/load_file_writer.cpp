// SPDX-License-Identifier: GPL-3.0-or-later
#include "buffer/load_file_writer.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "buffer/replacement_file.h"

namespace tarvix {
namespace {

constexpr std::size_t kOutBuffer = 256 * 1024;
constexpr std::size_t kReadChunk = 256 * 1024;
constexpr char kDigits[] = "0123456789ABCDEF";

int SmallestBits(FileFormat format, std::uint64_t total) {
  if (total <= 0x10000) return 16;
  if (format == FileFormat::kSRecord && total <= 0x1000000) return 24;
  return 32;
}

// Two hexadecimal digits, and the byte added to the record's sum.
void PutHexByte(std::vector<char>& out, std::uint8_t& sum, std::uint8_t byte) {
  sum = static_cast<std::uint8_t>(sum + byte);
  out.push_back(kDigits[byte >> 4]);
  out.push_back(kDigits[byte & 15]);
}

std::string WidthName(FileFormat format, int bits) {
  return FormatName({format, bits});
}

}  // namespace

std::string FormatWidthProblem(FileFormatChoice choice, std::uint64_t total) {
  if (choice.format == FileFormat::kBinary) return {};
  const int bits =
      choice.address_bits != 0 ? choice.address_bits : SmallestBits(choice.format, total);
  const bool known = choice.format == FileFormat::kIntelHex
                         ? (bits == 16 || bits == 20 || bits == 32)
                         : (bits == 16 || bits == 24 || bits == 32);
  if (!known) return "no such record format";
  if (total > (std::uint64_t{1} << bits))
    return std::to_string(total) + " bytes do not fit " + WidthName(choice.format, bits) +
           " addresses";
  return {};
}

LoadFileEncoder::LoadFileEncoder(int fd, FileFormatChoice choice, std::uint64_t total)
    : fd_(fd), format_(choice.format) {
  out_.reserve(kOutBuffer + 1024);
  if (format_ == FileFormat::kBinary) return;
  error_ = FormatWidthProblem(choice, total);
  if (!error_.empty()) return;
  bits_ = choice.address_bits != 0 ? choice.address_bits : SmallestBits(format_, total);
  if (format_ == FileFormat::kSRecord) SRecordLine('0', 0, 2, nullptr, 0);
}

bool LoadFileEncoder::Append(std::span<const std::uint8_t> bytes) {
  if (!Valid()) return false;
  if (format_ == FileFormat::kBinary) {
    if (out_.size() + bytes.size() > kOutBuffer && !Flush()) return false;
    if (bytes.size() >= kOutBuffer) {
      out_.assign(bytes.begin(), bytes.end());
      return Flush();
    }
    out_.insert(out_.end(), bytes.begin(), bytes.end());
    return true;
  }
  if (address_ + line_.size() + bytes.size() > (std::uint64_t{1} << bits_))
    return Fail("the image passes the end of " + WidthName(format_, bits_) + " addresses");
  std::size_t done = 0;
  while (done < bytes.size()) {
    // Intel records never cross a 64 KiB boundary: their offsets have 16 bits.
    std::size_t room = kRecordDataBytes - line_.size();
    if (format_ == FileFormat::kIntelHex) {
      const std::uint64_t at = address_ + line_.size();
      room = std::min<std::uint64_t>(room, 0x10000 - (at & 0xFFFF));
    }
    const std::size_t take = std::min(room, bytes.size() - done);
    line_.insert(line_.end(), bytes.begin() + done, bytes.begin() + done + take);
    done += take;
    if (take == room) Record(line_.data(), line_.size());
  }
  return out_.size() < kOutBuffer || Flush();
}

bool LoadFileEncoder::Finish() {
  if (!Valid()) return false;
  if (!line_.empty()) Record(line_.data(), line_.size());
  if (format_ == FileFormat::kIntelHex) IntelLine(1, 0, nullptr, 0);
  if (format_ == FileFormat::kSRecord) {
    // The terminator's type matches the data records' address width: S9, S8 or S7.
    const int bytes = bits_ / 8;
    SRecordLine(static_cast<char>('0' + 11 - bytes), 0, bytes, nullptr, 0);
  }
  return Flush();
}

void LoadFileEncoder::Record(const std::uint8_t* data, std::size_t length) {
  const auto address = static_cast<std::uint32_t>(address_);
  if (format_ == FileFormat::kIntelHex) {
    const std::uint64_t upper = address_ >> 16;
    if (bits_ != 16 && upper != upper_) {
      // I32HEX announces the upper 16 address bits, I16HEX a segment (address / 16).
      const auto value = static_cast<std::uint16_t>(bits_ == 32 ? upper : upper << 12);
      const std::uint8_t be[2] = {static_cast<std::uint8_t>(value >> 8),
                                  static_cast<std::uint8_t>(value)};
      IntelLine(bits_ == 32 ? 4 : 2, 0, be, 2);
      upper_ = upper;
    }
    IntelLine(0, static_cast<std::uint16_t>(address), data, length);
  } else {
    const int bytes = bits_ / 8;
    SRecordLine(static_cast<char>('0' + bytes - 1), address, bytes, data, length);
  }
  address_ += length;
  line_.clear();
}

void LoadFileEncoder::IntelLine(std::uint8_t type, std::uint16_t offset, const std::uint8_t* data,
                                std::size_t length) {
  std::uint8_t sum = 0;
  const auto put = [&](std::uint8_t byte) { PutHexByte(out_, sum, byte); };
  out_.push_back(':');
  put(static_cast<std::uint8_t>(length));
  put(static_cast<std::uint8_t>(offset >> 8));
  put(static_cast<std::uint8_t>(offset));
  put(type);
  for (std::size_t i = 0; i < length; ++i) put(data[i]);
  put(static_cast<std::uint8_t>(-sum));
  out_.push_back('\n');
}

void LoadFileEncoder::SRecordLine(char type, std::uint32_t address, int address_bytes,
                                  const std::uint8_t* data, std::size_t length) {
  std::uint8_t sum = 0;
  const auto put = [&](std::uint8_t byte) { PutHexByte(out_, sum, byte); };
  out_.push_back('S');
  out_.push_back(type);
  put(static_cast<std::uint8_t>(address_bytes + length + 1));
  for (int i = address_bytes - 1; i >= 0; --i) put(static_cast<std::uint8_t>(address >> (8 * i)));
  for (std::size_t i = 0; i < length; ++i) put(data[i]);
  put(static_cast<std::uint8_t>(~sum));
  out_.push_back('\n');
}

bool LoadFileEncoder::Flush() {
  const char* data = out_.data();
  std::size_t left = out_.size();
  while (left > 0) {
    const ssize_t n = ::write(fd_, data, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Fail(std::strerror(n < 0 ? errno : ENOSPC));
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  out_.clear();
  return true;
}

bool LoadFileEncoder::Fail(const std::string& why) {
  if (error_.empty()) error_ = why;
  return false;
}

bool SaveLoadFile(const ImageReader& read, std::uint64_t size, const std::filesystem::path& path,
                  FileFormatChoice choice, std::string* error) {
  ReplacementFile file(path);
  if (!file.Valid()) {
    *error = path.string() + ": " + std::strerror(file.Error());
    return false;
  }
  LoadFileEncoder encoder(file.Fd(), choice, size);
  std::vector<std::uint8_t> chunk(
      static_cast<std::size_t>(std::min<std::uint64_t>(kReadChunk, size)));
  std::uint64_t done = 0;
  bool ok = encoder.Valid();
  while (ok && done < size) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), size - done));
    if (read(done, std::span(chunk.data(), want)) != static_cast<std::int64_t>(want)) {
      *error = path.string() + ": the image could not be read";
      file.Abandon();
      return false;
    }
    ok = encoder.Append(std::span(chunk.data(), want));
    done += want;
  }
  ok = ok && encoder.Finish();
  if (!ok) {
    *error = path.string() + ": " + encoder.Error();
    file.Abandon();
    return false;
  }
  if (!file.Commit()) {
    *error = path.string() + ": " + std::strerror(file.Error());
    return false;
  }
  return true;
}

}  // namespace tarvix
