// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/virtual_chip.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "buffer/stream_copy.h"
#include "device/command_packet.h"

namespace tarvix::sim {
namespace {

std::uint32_t ParseHexId(const std::string& text) {
  std::uint32_t value = 0;
  for (const char c : text) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else {
      return 0;
    }
    value = (value << 4) | static_cast<std::uint32_t>(digit);
  }
  return value & 0xFFFFFF;
}

std::uint32_t LeadingDecimal(const std::string& text) {
  std::uint32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
  }
  return value;
}

// Whole-range loops over a file go in pieces of this size.
constexpr std::size_t kFileChunk = 1 << 20;

}  // namespace

VirtualChip::VirtualChip(ChipDescription description) : description_(std::move(description)) {
  pages_.resize(static_cast<std::size_t>((description_.capacity + kPageSize - 1) / kPageSize));
}

VirtualChip::~VirtualChip() {
  if (fd_ >= 0) ::close(fd_);
}

std::optional<ChipDescription> VirtualChip::Describe(const ChipRecord& record, std::string* error) {
  ChipDescription d;
  d.model = record.model;
  d.family = FamilyFromOperationType(record.operation_type);
  if (d.family == ChipFamily::kUnknown) {
    if (error) *error = "chip " + record.model + " has no known operation type";
    return std::nullopt;
  }
  const ChipParameters params = ParseChipParameters(record);
  d.capacity = params.capacity;
  if (d.capacity == 0) {
    if (error) *error = "chip " + record.model + " has no capacity";
    return std::nullopt;
  }
  d.word_organisation = params.word_organisation;
  d.main_id = ParseHexId(record.main_id);
  d.secondary_id = ParseHexId(record.secondary_id);
  d.page_size = record.page_size == "N" ? 0 : LeadingDecimal(record.page_size);
  d.sector_size = LeadingDecimal(record.sector_size);
  return d;
}

std::unique_ptr<VirtualChip> VirtualChip::FromRecord(const ChipRecord& record, std::string* error) {
  auto d = Describe(record, error);
  if (!d) return nullptr;
  return std::make_unique<VirtualChip>(std::move(*d));
}

bool VirtualChip::UseImageFile(const std::filesystem::path& path, std::string* error) {
  // Only a file holds a chip: the image is erased to the chip's size, which must never
  // happen to a disk, and a pipe or a folder holds nothing. Said before anything opens it.
  if (const std::string why = NotAFileReason(path); !why.empty()) {
    if (error) *error = path.string() + ": " + why;
    return false;
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) {
    if (error) *error = "cannot open " + path.string() + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    if (error) *error = "cannot inspect " + path.string() + ": " + std::strerror(errno);
    ::close(fd);
    return false;
  }
  // Replaced by something else after the look above.
  if (!S_ISREG(st.st_mode)) {
    if (error) *error = path.string() + ": " + NotAFileReason(st.st_mode);
    ::close(fd);
    return false;
  }
  // Our own earlier hold on the same file would refuse us below.
  struct stat held {};
  if (fd_ >= 0 && ::fstat(fd_, &held) == 0 && held.st_dev == st.st_dev &&
      held.st_ino == st.st_ino) {
    ::close(fd_);
    fd_ = -1;
  }
  // One simulated chip per file: two programs writing the same image would interleave
  // their bytes. The lock lasts as long as the descriptor.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int reason = errno;
    if (error)
      *error = reason == EWOULDBLOCK
                   ? path.string() +
                         " is in use by another simulated programmer (another "
                         "process has it open)"
                   : "cannot lock " + path.string() + ": " + std::strerror(reason);
    ::close(fd);
    return false;
  }
  // A new or short image is erased up to the capacity; longer files are left whole.
  std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
  if (size < description_.capacity) {
    const std::vector<std::uint8_t> blank(kFileChunk, 0xFF);
    while (size < description_.capacity) {
      const std::size_t n = static_cast<std::size_t>(
          std::min<std::uint64_t>(kFileChunk, description_.capacity - size));
      const ssize_t w = ::pwrite(fd, blank.data(), n, static_cast<off_t>(size));
      if (w <= 0) {
        if (error) *error = "cannot extend " + path.string() + ": " + std::strerror(errno);
        ::close(fd);
        return false;
      }
      size += static_cast<std::uint64_t>(w);
    }
  }
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
  for (auto& page : pages_) page.reset();
  return true;
}

ChipSpeed VirtualChip::Speed() const {
  ChipSpeed s;
  const double page = description_.page_size > 0 ? description_.page_size : 1.0;
  const double mib = static_cast<double>(description_.capacity) / (1 << 20);
  switch (description_.family) {
    case ChipFamily::kSpiFlash:
      // Typical serial flash: 0.7 ms per 256-byte page, about 2.5 s per MiB of chip erase.
      s.read_us_per_byte = 0.1;
      s.program_us_per_byte = 700.0 / 256.0;
      s.chip_erase_ms =
          std::min<std::int64_t>(500'000, 200 + static_cast<std::int64_t>(mib * 2500));
      s.sector_erase_ms = 45;
      break;
    case ChipFamily::kEeprom24:
      // 400 kHz I2C, 5 ms write cycle per page.
      s.read_us_per_byte = 25.0;
      s.program_us_per_byte = 5000.0 / page;
      s.chip_erase_ms = static_cast<std::int64_t>(description_.capacity / page * 5);
      break;
    case ChipFamily::kEeprom25:
      s.read_us_per_byte = 0.5;
      s.program_us_per_byte = 5000.0 / page;
      s.chip_erase_ms = static_cast<std::int64_t>(description_.capacity / page * 5);
      break;
    case ChipFamily::kEeprom93:
      // Microwire about 1 MHz; every byte or word takes its own write cycle; ERAL in one.
      s.read_us_per_byte = 8.0;
      s.program_us_per_byte = description_.word_organisation ? 2000.0 : 4000.0;
      s.chip_erase_ms = 15;
      break;
    case ChipFamily::kUnknown:
      break;
  }
  return s;
}

void VirtualChip::Read(std::uint64_t address, std::uint8_t* out, std::size_t count) const {
  const std::uint64_t cap = description_.capacity;
  std::size_t inside = 0;
  if (address < cap)
    inside = static_cast<std::size_t>(std::min<std::uint64_t>(count, cap - address));
  std::memset(out + inside, 0xFF, count - inside);
  if (inside == 0) return;
  if (fd_ >= 0) {
    std::size_t done = 0;
    while (done < inside) {
      const ssize_t r = ::pread(fd_, out + done, inside - done, static_cast<off_t>(address + done));
      if (r <= 0) break;
      done += static_cast<std::size_t>(r);
    }
    std::memset(out + done, 0xFF, inside - done);
    return;
  }
  std::size_t done = 0;
  while (done < inside) {
    const std::uint64_t a = address + done;
    const std::size_t in_page = static_cast<std::size_t>(a & (kPageSize - 1));
    const std::size_t n = std::min(inside - done, static_cast<std::size_t>(kPageSize) - in_page);
    const auto& page = pages_[static_cast<std::size_t>(a >> kPageBits)];
    if (page) {
      std::memcpy(out + done, page.get() + in_page, n);
    } else {
      std::memset(out + done, 0xFF, n);
    }
    done += n;
  }
}

std::uint8_t VirtualChip::ReadByte(std::uint64_t address) const {
  std::uint8_t b;
  Read(address, &b, 1);
  return b;
}

std::vector<std::uint8_t> VirtualChip::ReadRange(std::uint64_t address, std::size_t count) const {
  std::vector<std::uint8_t> out(count);
  Read(address, out.data(), count);
  return out;
}

void VirtualChip::Program(std::uint64_t address, const std::uint8_t* data, std::size_t count) {
  Write(address, data, count, description_.family == ChipFamily::kSpiFlash);
}

void VirtualChip::Load(std::uint64_t address, const std::uint8_t* data, std::size_t count) {
  Write(address, data, count, false);
}

void VirtualChip::Write(std::uint64_t address, const std::uint8_t* data, std::size_t count,
                        bool clear_only) {
  const std::uint64_t cap = description_.capacity;
  if (address >= cap) return;
  count = static_cast<std::size_t>(std::min<std::uint64_t>(count, cap - address));
  if (fd_ >= 0) {
    std::vector<std::uint8_t> merged(std::min(count, kFileChunk));
    std::size_t done = 0;
    while (done < count) {
      const std::size_t n = std::min(count - done, kFileChunk);
      if (clear_only) {
        Read(address + done, merged.data(), n);
        for (std::size_t i = 0; i < n; ++i) merged[i] &= data[done + i];
      } else {
        std::memcpy(merged.data(), data + done, n);
      }
      std::size_t written = 0;
      while (written < n) {
        const ssize_t w = ::pwrite(fd_, merged.data() + written, n - written,
                                   static_cast<off_t>(address + done + written));
        if (w <= 0) return;  // a full disk loses the write, as a worn-out part would
        written += static_cast<std::size_t>(w);
      }
      done += n;
    }
    return;
  }
  std::size_t done = 0;
  while (done < count) {
    const std::uint64_t a = address + done;
    const std::size_t in_page = static_cast<std::size_t>(a & (kPageSize - 1));
    const std::size_t n = std::min(count - done, static_cast<std::size_t>(kPageSize) - in_page);
    auto& page = pages_[static_cast<std::size_t>(a >> kPageBits)];
    if (!page) {
      page = std::make_unique<std::uint8_t[]>(kPageSize);
      std::memset(page.get(), 0xFF, kPageSize);
    }
    std::uint8_t* dst = page.get() + in_page;
    if (clear_only) {
      for (std::size_t i = 0; i < n; ++i) dst[i] &= data[done + i];
    } else {
      std::memcpy(dst, data + done, n);
    }
    done += n;
  }
}

void VirtualChip::EraseAll() {
  if (fd_ >= 0) {
    FillRange(0, description_.capacity, 0xFF);
    return;
  }
  for (auto& page : pages_) page.reset();
}

void VirtualChip::EraseRange(std::uint64_t address, std::uint64_t count) {
  FillRange(address, count, 0xFF);
}

void VirtualChip::FillRange(std::uint64_t address, std::uint64_t count, std::uint8_t value) {
  const std::uint64_t cap = description_.capacity;
  if (address >= cap) return;
  count = std::min(count, cap - address);
  if (fd_ < 0 && value == 0xFF) {
    // Whole erased pages are given back, so an erased chip costs no memory again.
    std::uint64_t done = 0;
    while (done < count) {
      const std::uint64_t a = address + done;
      const std::uint64_t in_page = a & (kPageSize - 1);
      const std::uint64_t n = std::min(count - done, kPageSize - in_page);
      auto& page = pages_[static_cast<std::size_t>(a >> kPageBits)];
      if (page) {
        if (n == kPageSize) {
          page.reset();
        } else {
          std::memset(page.get() + in_page, 0xFF, static_cast<std::size_t>(n));
        }
      }
      done += n;
    }
    return;
  }
  const std::vector<std::uint8_t> fill(
      static_cast<std::size_t>(std::min<std::uint64_t>(count, kFileChunk)), value);
  std::uint64_t done = 0;
  while (done < count) {
    const std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(count - done, kFileChunk));
    Load(address + done, fill.data(), n);
    done += n;
  }
}

std::optional<std::uint64_t> VirtualChip::FirstNonBlank(std::uint64_t limit) const {
  limit = std::min(limit, description_.capacity);
  auto scan = [](const std::uint8_t* p, std::size_t n) -> std::optional<std::size_t> {
    for (std::size_t i = 0; i < n; ++i)
      if (p[i] != 0xFF) return i;
    return std::nullopt;
  };
  if (fd_ >= 0) {
    std::vector<std::uint8_t> buffer(kFileChunk);
    for (std::uint64_t a = 0; a < limit; a += kFileChunk) {
      const std::size_t n =
          static_cast<std::size_t>(std::min<std::uint64_t>(kFileChunk, limit - a));
      Read(a, buffer.data(), n);
      if (auto i = scan(buffer.data(), n)) return a + *i;
    }
    return std::nullopt;
  }
  for (std::size_t p = 0; p < pages_.size(); ++p) {
    const std::uint64_t base = std::uint64_t{p} << kPageBits;
    if (base >= limit) break;
    if (!pages_[p]) continue;
    const std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(kPageSize, limit - base));
    if (auto i = scan(pages_[p].get(), n)) return base + *i;
  }
  return std::nullopt;
}

std::uint64_t VirtualChip::ResidentBytes() const {
  std::uint64_t n = 0;
  for (const auto& page : pages_)
    if (page) n += kPageSize;
  return n;
}

}  // namespace tarvix::sim
