// SPDX-License-Identifier: GPL-3.0-or-later
#include "buffer/load_file_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <srecord/input/file/intel.h>
#include <srecord/quit.h>
#include <srecord/record.h>
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <vector>

namespace srecord {
// Debian's libsrecord-dev ships the library's S-record reader but not its header: this
// is that reader's factory as the library defines it.
class input_file_motorola : public input_file {
 public:
  static input_file::pointer create(const std::string& file_name);
};
}  // namespace srecord

namespace tarvix {
namespace {

constexpr std::uint64_t k4GiB = std::uint64_t{1} << 32;
constexpr std::size_t kWriteBehind = 256 * 1024;

// The library's default handler ends the process on a bad record. This one throws
// instead, so a bad file only ends its own load.
class ThrowingQuit final : public srecord::quit {
 public:
  struct Failure {
    std::string text;
  };

  void message_v(const char* format, va_list args) override {
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    last_ = text;
  }
  [[noreturn]] void exit(int) override { throw Failure{last_}; }

 private:
  std::string last_;
};

// "NAME: LINE" from the library: the line number, 0 when there is none.
std::uint64_t LineOf(const srecord::input& input) {
  const std::string where = input.filename_and_line();
  const std::size_t colon = where.rfind(": ");
  if (colon == std::string::npos) return 0;
  return std::strtoull(where.c_str() + colon + 2, nullptr, 10);
}

LoadFileError Refusal(const std::filesystem::path& path, std::uint64_t line,
                      const std::string& reason) {
  std::string text = path.string() + ": ";
  if (line > 0) text += "line " + std::to_string(line) + ": ";
  return {text + reason, line};
}

// A library message names the file as the library opened it ("NAME: LINE: reason"):
// the user's own name replaces it.
LoadFileError FromLibrary(const std::filesystem::path& path, const std::string& opened_as,
                          std::string message) {
  if (message.rfind(opened_as + ": ", 0) == 0) message.erase(0, opened_as.size() + 2);
  std::uint64_t line = 0;
  std::size_t digits = 0;
  while (digits < message.size() && message[digits] >= '0' && message[digits] <= '9') ++digits;
  if (digits > 0 && message.compare(digits, 2, ": ") == 0) {
    line = std::strtoull(message.c_str(), nullptr, 10);
    message.erase(0, digits + 2);
  }
  return Refusal(path, line, message);
}

std::string Hex(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

// Places record data at its address in the output, remembers which ranges are
// filled (merged, so a file in address order costs one entry) and fills the rest
// with 0xFF at the end. Consecutive records are gathered into large writes.
class ImageAssembler {
 public:
  explicit ImageAssembler(int fd) : fd_(fd) { pending_.reserve(kWriteBehind); }

  // The range already filled that [start, end) overlaps, if any.
  [[nodiscard]] std::optional<std::uint64_t> Overlap(std::uint64_t start, std::uint64_t end) const {
    auto next = filled_.upper_bound(start);
    if (next != filled_.end() && next->first < end) return next->first;
    if (next != filled_.begin()) {
      const auto previous = std::prev(next);
      if (previous->second > start) return start;
    }
    return std::nullopt;
  }

  [[nodiscard]] bool Add(std::uint64_t address, const std::uint8_t* data, std::size_t length) {
    if (length == 0) return true;
    Mark(address, address + length);
    if (address != pending_at_ + pending_.size() || pending_.size() + length > kWriteBehind) {
      if (!Flush()) return false;
      pending_at_ = address;
    }
    pending_.insert(pending_.end(), data, data + length);
    return true;
  }

  // Writes what is pending and fills every gap below the highest record with 0xFF.
  [[nodiscard]] bool Finish(DecodedImage* image) {
    if (!Flush()) return false;
    const std::vector<std::uint8_t> blank(kWriteBehind, 0xFF);
    std::uint64_t cursor = 0;
    for (const auto& [start, end] : filled_) {
      while (cursor < start) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(blank.size(), start - cursor));
        if (!WriteAt(fd_, std::span(blank.data(), n), cursor)) return false;
        cursor += n;
      }
      cursor = end;
    }
    image->size = cursor;
    image->lowest = filled_.empty() ? 0 : filled_.begin()->first;
    return true;
  }

 private:
  void Mark(std::uint64_t start, std::uint64_t end) {
    auto next = filled_.lower_bound(start);
    if (next != filled_.end() && next->first == end) {
      end = next->second;
      next = filled_.erase(next);
    }
    if (next != filled_.begin()) {
      const auto previous = std::prev(next);
      if (previous->second == start) {
        previous->second = end;
        return;
      }
    }
    filled_.emplace_hint(next, start, end);
  }

  [[nodiscard]] bool Flush() {
    const bool ok = WriteAt(fd_, pending_, pending_at_);
    pending_.clear();
    return ok;
  }

  int fd_;
  std::map<std::uint64_t, std::uint64_t> filled_;  // start -> end of each filled range
  std::vector<std::uint8_t> pending_;
  std::uint64_t pending_at_ = 0;
};

// Reads every record of `input` into `out`. Throws the library's failures.
bool ReadRecords(srecord::input& input, const std::filesystem::path& path, ImageAssembler& out,
                 DecodedImage* image, LoadFileError* error) {
  srecord::record record;
  // The library keeps addresses in 32 bits: a record running past 4 GiB comes back
  // split, its rest at address 0 from the same line.
  std::uint64_t line_at_4gib = 0;
  while (input.read(record)) {
    if (record.get_type() != srecord::record::type_data) continue;
    const std::uint64_t address = record.get_address();
    const std::uint64_t end = address + record.get_length();
    if (line_at_4gib != 0) {
      const std::uint64_t line = LineOf(input);
      if (address == 0 && line == line_at_4gib) {
        *error = Refusal(path, line, "record past 4 GiB");
        return false;
      }
      line_at_4gib = 0;
    }
    if (end > k4GiB) {
      *error = Refusal(path, LineOf(input), "record past 4 GiB");
      return false;
    }
    if (const auto at = out.Overlap(address, end)) {
      *error = Refusal(path, LineOf(input), "record overlaps an earlier record at " + Hex(*at));
      return false;
    }
    if (!out.Add(address, record.get_data(), record.get_length())) {
      *error = Refusal(path, 0,
                       std::string("the decoded image cannot be written: ") + std::strerror(errno));
      return false;
    }
    if (end == k4GiB) line_at_4gib = LineOf(input);
    image->data_bytes += record.get_length();
    ++image->records;
  }
  return true;
}

UniqueFd UnnamedTemporary() {
  const std::filesystem::path folder = std::filesystem::temp_directory_path();
  UniqueFd fd(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  if (fd.Valid()) return fd;
  // File systems without O_TMPFILE: a named file, gone from the folder at once.
  std::string name = (folder / "tarvix-image-XXXXXX").string();
  fd = UniqueFd(::mkostemp(name.data(), O_CLOEXEC));
  if (fd.Valid()) ::unlink(name.c_str());
  return fd;
}

}  // namespace

std::string RecordsPastChip(const DecodedImage& image, std::uint64_t capacity) {
  if (image.size <= capacity) return {};
  return "its records run from " + Hex(image.lowest) + " to " + Hex(image.size - 1) +
         ", past the end of the chip (" + std::to_string(capacity) + " bytes)";
}

bool DecodeLoadFile(const std::filesystem::path& path, FileFormat format, int out_fd,
                    DecodedImage* image, LoadFileError* error) {
  *image = {};
  errno = 0;
  const UniqueFd file = OpenRegularForReading(path);
  if (!file.Valid()) {
    *error = Refusal(path, 0, errno != 0 ? std::strerror(errno) : "not a regular file");
    return false;
  }
  // The library opens by name; through our own descriptor it reads the very file
  // checked above, and its open cannot fail for a reason the check did not see.
  const std::string opened_as = ::access("/proc/self/fd", F_OK) == 0
                                    ? "/proc/self/fd/" + std::to_string(file.Get())
                                    : path.string();
  ThrowingQuit quit;  // outlives the input, whose destructor may still report
  srecord::input::pointer input;
  try {
    input = format == FileFormat::kSRecord ? srecord::input_file_motorola::create(opened_as)
                                           : srecord::input_file_intel::create(opened_as);
    input->set_quit(quit);
    ImageAssembler out(out_fd);
    if (!ReadRecords(*input, path, out, image, error)) return false;
    if (!out.Finish(image)) {
      *error = Refusal(path, 0,
                       std::string("the decoded image cannot be written: ") + std::strerror(errno));
      return false;
    }
    return true;
  } catch (const ThrowingQuit::Failure& failure) {
    // An input that never opened its file tries again when destroyed and would then
    // report from a destructor: such a one is left alone.
    if (input && failure.text.find(": open: ") != std::string::npos)
      new srecord::input::pointer(std::move(input));
    *error = FromLibrary(path, opened_as, failure.text);
  } catch (const std::bad_alloc&) {
    *error = Refusal(path, 0, "out of memory");
  }
  return false;
}

std::optional<ImageFile> OpenImageFile(const std::filesystem::path& path,
                                       std::optional<FileFormat> forced, LoadFileError* error) {
  ImageFile image;
  image.format = LoadFormatOf(path, forced);
  if (image.format == FileFormat::kBinary) {
    errno = 0;
    image.fd = OpenRegularForReading(path);
    const std::int64_t length = image.fd.Valid() ? FileLength(image.fd.Get()) : -1;
    if (length < 0) {
      *error = Refusal(path, 0, errno != 0 ? std::strerror(errno) : "not a regular file");
      return std::nullopt;
    }
    image.size = static_cast<std::uint64_t>(length);
    return image;
  }
  image.fd = UnnamedTemporary();
  if (!image.fd.Valid()) {
    *error = Refusal(path, 0, std::string("no temporary file: ") + std::strerror(errno));
    return std::nullopt;
  }
  DecodedImage decoded;
  if (!DecodeLoadFile(path, image.format, image.fd.Get(), &decoded, error)) return std::nullopt;
  image.size = decoded.size;
  image.decoded = decoded;
  return image;
}

}  // namespace tarvix
