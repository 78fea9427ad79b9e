// SPDX-License-Identifier: GPL-3.0-or-later
#include "buffer/load_save.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <utility>
#include <vector>

#include "buffer/change_log.h"
#include "buffer/hex_page.h"
#include "buffer/load_file_reader.h"
#include "buffer/load_file_writer.h"
#include "buffer/path_box.h"
#include "buffer/write_from_address.h"

namespace tarvix {

namespace {

constexpr std::size_t kSaveChunk = 1 << 20;

constexpr char kFileOpenFailedBox[] = "file open failed!   ";
constexpr char kFileSaveFailed[] = "file save failed! ";

std::int64_t PreadFull(int fd, std::uint8_t* out, std::size_t length, std::uint64_t offset) {
  std::size_t done = 0;
  while (done < length) {
    ssize_t n = ::pread(fd, out + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<std::int64_t>(done);
}

bool PwriteFull(int fd, const std::uint8_t* bytes, std::size_t length, std::uint64_t offset) {
  std::size_t done = 0;
  while (done < length) {
    ssize_t n = ::pwrite(fd, bytes + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Number of leading bytes on which `a` and `b` agree; equal stretches go by in
// blocks, which is what makes a full comparison run near the speed of reading.
std::size_t EqualPrefix(const std::uint8_t* a, const std::uint8_t* b, std::size_t length) {
  constexpr std::size_t kBlock = 64;
  std::size_t i = 0;
  while (length - i >= kBlock && std::memcmp(a + i, b + i, kBlock) == 0) i += kBlock;
  while (i < length && a[i] == b[i]) ++i;
  return i;
}

std::int64_t FdLength(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

// Copies `length` bytes from the start of `from` to the start of `to`, letting the
// kernel move the data when it can.
bool CopyWhole(int from, int to, std::uint64_t length) {
  std::uint64_t done = 0;
  while (done < length) {
    loff_t in_off = static_cast<loff_t>(done);
    loff_t out_off = static_cast<loff_t>(done);
    ssize_t n = ::copy_file_range(
        from, &in_off, to, &out_off,
        static_cast<std::size_t>(std::min<std::uint64_t>(length - done, 1u << 30)), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::uint64_t>(n);
  }
  if (done == length) return true;
  // Fall back to plain reads and writes (other file systems, cross-device copies).
  std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kSaveChunk]);
  while (done < length) {
    auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kSaveChunk, length - done));
    std::int64_t got = PreadFull(from, buffer.get(), want, done);
    if (got <= 0) return false;
    if (!PwriteFull(to, buffer.get(), static_cast<std::size_t>(got), done)) return false;
    done += static_cast<std::uint64_t>(got);
  }
  return true;
}

std::string FileNameOf(const std::filesystem::path& path) {
  return path.filename().string();
}

bool SamePath(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code ec;
  if (std::filesystem::equivalent(a, b, ec) && !ec) return true;
  auto resolve = [](const std::filesystem::path& p) {
    std::error_code e;
    auto r = std::filesystem::weakly_canonical(std::filesystem::absolute(p, e), e);
    return e ? p.lexically_normal() : r;
  };
  return resolve(a) == resolve(b);
}

}  // namespace

bool IsCapFile(const std::filesystem::path& path) {
  const std::string& text = path.native();
  if (text.size() < 3) return false;
  std::string tail = text.substr(text.size() - 3);
  for (auto& c : tail) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return tail == "CAP";
}

FileLoadSave::FileLoadSave(ImageBuffer& buffer, HexPage& hex, ChangeLog& log, Host& host)
    : buffer_(buffer), hex_(hex), log_(log), host_(host) {}

bool FileLoadSave::Load(const std::filesystem::path& path, bool user_chosen) {
  const Paths& paths = buffer_.PrivatePaths();
  // Loading the working copy onto itself would truncate it first, whoever asks.
  if ((user_chosen && buffer_.IsSystemFile(path)) || SamePath(path, paths.working_copy)) {
    host_.MessageBox(kSystemFileForbid, "warning", BoxIcon::kWarning, BoxButtons::kOk);
    return false;
  }
  if (IsCapFile(path)) {
    if (cap_handler_) return cap_handler_(path, kCapHeaderSize);
    // Without a dialog (command-line tool, tests) the dialog's OK runs at once.
    return LoadFromFileAddress(
        paths.temp_folder, host_, [this](const std::filesystem::path& p) { return Load(p, false); },
        path, kCapHeaderSize);
  }
  const std::string path_text = ShortenPathForBox(path.string());
  const bool chip_data = SamePath(path, paths.chip_data);

  // The chip data file holds raw bytes, whatever they begin with.
  const FileFormat format = chip_data ? FileFormat::kBinary : LoadFormatOf(path);
  ImageBuffer::Status status = ImageBuffer::Status::kOk;
  if (format == FileFormat::kBinary) {
    status = buffer_.LoadFrom(path);
  } else {
    LoadFileError error;
    std::optional<ImageFile> file = OpenImageFile(path, format, &error);
    if (!file) {
      // Decoded before anything else is touched: the image loaded before stays.
      host_.ShowStatus(error.text, true, false);
      host_.MessageBox(error.text + "\r\nnothing was loaded   ", "error", BoxIcon::kError,
                       BoxButtons::kOk);
      return false;
    }
    // Records past the chosen chip would be lost to every operation: refused here, as
    // the command line refuses them, before the image loaded before is touched.
    const std::uint64_t capacity = buffer_.Capacity();
    if (const std::string problem =
            capacity > 0 ? RecordsPastChip(*file->decoded, capacity) : std::string();
        !problem.empty()) {
      const std::string text = FileNameOf(path) + ": " + problem;
      host_.ShowStatus(text, true, false);
      host_.MessageBox(text + "\r\nnothing was loaded   ", "error", BoxIcon::kError,
                       BoxButtons::kOk);
      return false;
    }
    status = buffer_.LoadFrom(path, file->fd.Release(), format);
  }
  if (status != ImageBuffer::Status::kOk) {
    if (status == ImageBuffer::Status::kWorkingOpenFailed) {
      if (chip_data) {
        host_.ShowStatus("read failed! ", true, false);
        host_.MessageBox("read failed!  ", "error", BoxIcon::kError, BoxButtons::kOk);
      } else {
        host_.ShowStatus("file open failed! ", true, false);
        host_.MessageBox("file open failed! ", "error", BoxIcon::kError, BoxButtons::kOk);
      }
    } else {
      host_.MessageBox(kFileOpenFailedBox, "info", BoxIcon::kWarning, BoxButtons::kOk);
    }
    if (!buffer_.Loaded()) {
      // The previous image is gone: do not keep showing its name.
      buffer_.SetWindowTitle(kWindowTitle);
      buffer_.SetPathBoxText(kPathBoxInitial);
      hex_.ResetFocus();
      hex_.Refresh();
    }
    return false;
  }

  if (buffer_.RowCount() > kMaxShownRows) {
    host_.MessageBox("file is too large to show", "warning", BoxIcon::kWarning, BoxButtons::kOk);
  }
  hex_.UpdateScrollRange();
  hex_.ResetFocus();

  host_.EnableMenuItem(kCommandSaveAs);
  host_.EnableMenuItem(kCommandFindDatas);
  host_.EnableMenuItem(kCommandMoveTo);
  host_.EnableMenuItem(kCommandEditMode);
  host_.EnableMenuItem(kCommandViewData);
  if (hex_.EditMode()) {
    host_.EnableMenuItem(kCommandFileFill);
  } else {
    host_.GrayMenuItem(kCommandFileFill);
  }
  if (!chip_data) {
    host_.ShowStatus("open succeed", false, false);
    buffer_.SetWindowTitle(std::string(kWindowTitle) + " - " + FileNameOf(path) + "  " +
                           buffer_.SizeLabel());
    buffer_.SetPathBoxText(path_text);
    host_.GrayMenuItem(kCommandSave);
  } else {
    if (partial_path_box_.empty()) host_.ShowStatus("read succeed! ", false, false);
    buffer_.SetWindowTitle(std::string(kWindowTitle) + " - " + ChipName() + "chip datas " +
                           buffer_.SizeLabel());
    host_.EnableMenuItem(kCommandSave);
    buffer_.SetPathBoxText(partial_path_box_.empty() ? "unsaved chip datas!" : partial_path_box_);
  }
  hex_.Refresh();
  return true;
}

bool FileLoadSave::LoadPartialChipData(const std::filesystem::path& path,
                                       std::string path_box_text) {
  partial_path_box_ = std::move(path_box_text);
  const bool loaded = Load(path, false);
  partial_path_box_.clear();
  return loaded;
}

bool FileLoadSave::Drop(std::span<const std::filesystem::path> paths, bool open_enabled) {
  if (!open_enabled) {
    host_.MessageBox("please drag later   ", "info", BoxIcon::kInformation, BoxButtons::kOk);
    return false;
  }
  if (paths.empty()) return false;
  return Load(paths.front(), false);
}

void FileLoadSave::ReportSaveFailure(std::string_view why) {
  host_.ShowStatus(kFileSaveFailed, true, false);
  std::string text = std::string(kFileSaveFailed) + "  \r\n";
  text.append(why);
  host_.MessageBox(text, "error", BoxIcon::kError, BoxButtons::kOk);
}

bool FileLoadSave::Save() {
  if (!buffer_.Loaded()) return false;
  const bool chip_data = buffer_.CurrentIsChipData();
  std::optional<std::filesystem::path> target;
  if (chip_data) {
    target = choose_save_path_ ? choose_save_path_() : std::nullopt;
    if (!target) return false;
    if (buffer_.IsSystemFile(*target)) {
      host_.MessageBox(kSystemFileForbid, "warning", BoxIcon::kWarning, BoxButtons::kOk);
      return false;
    }
  }
  if (hex_.EditMode() && hex_.EditBoxOpen()) hex_.Commit();

  if (chip_data) return SaveChipData(*target, SaveFormatOf(*target));

  // Someone else wrote the file since we loaded it: comparing only our own edits
  // would leave the file a mix of both, so compare everything, but only if asked.
  bool full_compare = false;
  if (buffer_.SourceChangedOnDisk()) {
    if (!host_.Confirm("the file was changed by another program!\r\n"
                       "save this image over it? ")) {
      host_.ShowStatus("file not saved ", true, false);
      return false;
    }
    full_compare = true;
  }
  // A load file is written whole, in its own format, before its decoded copy takes the
  // changes the operation log records: a failure leaves both as they were.
  if (buffer_.SourceIsDecoded()) {
    std::string error;
    if (!WriteLoadFile(buffer_.CurrentPath(), {buffer_.SourceFormat(), 0}, &error)) {
      ReportSaveFailure(error + "; the changes stay in the image");
      return false;
    }
  }
  int fd = buffer_.OpenSourceForWriting();
  if (fd < 0) {
    ReportSaveFailure("the file cannot be opened for writing; the changes stay in the image");
    return false;
  }
  if (!log_.OpenRecord()) {
    ::close(fd);
    ReportSaveFailure("the operation log cannot be opened; nothing was written");
    return false;
  }
  log_.WriteUserFileHead(LogTimeStamp(std::time(nullptr)), FileNameOf(buffer_.CurrentPath()));
  const bool written = SaveUserFile(fd, full_compare);
  log_.WriteEnd();
  const bool logged = log_.CloseRecord();
  if (::close(fd) != 0 || !written) {
    ReportSaveFailure("a write failed; bytes written before it are logged");
    (void)buffer_.AdoptSource(buffer_.CurrentPath());
    hex_.Refresh();
    return false;
  }
  (void)buffer_.AdoptSource(buffer_.CurrentPath());
  buffer_.MarkSaved();
  host_.GrayMenuItem(kCommandSave);
  host_.ShowStatus(logged ? "file saved" : "file saved, but the operation log could not be written",
                   !logged, false);
  hex_.Refresh();
  return true;
}

// Writes every byte of the working copy that differs from the source (or lies past
// its end) back into the source, one positioned write per run of changed bytes, and
// logs each byte. Without `full_compare` only the ranges edited since the load or
// last save are compared: everything else is still the copy made at load.
bool FileLoadSave::SaveUserFile(int fd, bool full_compare) {
  const std::int64_t source_length_signed = FdLength(fd);
  if (source_length_signed < 0) return false;
  const auto source_length = static_cast<std::uint64_t>(source_length_signed);
  std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
  if (full_compare) {
    if (buffer_.Size() > 0) ranges.emplace_back(0, buffer_.Size());
  } else {
    ranges.assign(buffer_.ChangedRanges().begin(), buffer_.ChangedRanges().end());
  }
  std::unique_ptr<std::uint8_t[]> work(new std::uint8_t[kSaveChunk]);
  std::unique_ptr<std::uint8_t[]> source(new std::uint8_t[kSaveChunk]);
  for (const auto& [first, last_raw] : ranges) {
    const std::uint64_t last = std::min(last_raw, buffer_.Size());
    for (std::uint64_t at = first; at < last;) {
      auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kSaveChunk, last - at));
      std::int64_t got = buffer_.ReadWorking(at, std::span<std::uint8_t>(work.get(), n));
      if (got != static_cast<std::int64_t>(n)) return false;
      std::size_t in_source = 0;
      if (at < source_length) {
        in_source = static_cast<std::size_t>(std::min<std::uint64_t>(n, source_length - at));
        if (PreadFull(fd, source.get(), in_source, at) != static_cast<std::int64_t>(in_source)) {
          return false;
        }
      }
      std::size_t i = 0;
      while (i < n) {
        if (i < in_source) i += EqualPrefix(work.get() + i, source.get() + i, in_source - i);
        if (i >= n) break;
        const std::size_t run = i;
        while (i < n && (i >= in_source || work[i] != source[i])) ++i;
        if (!PwriteFull(fd, work.get() + run, i - run, at + run)) return false;
        for (std::size_t k = run; k < i; ++k) {
          log_.WriteChange(at + k,
                           k < in_source ? std::optional<std::uint8_t>(source[k]) : std::nullopt,
                           work[k]);
        }
      }
      at += n;
    }
  }
  return true;
}

bool FileLoadSave::WriteLoadFile(const std::filesystem::path& path, FileFormatChoice format,
                                 std::string* error) {
  return SaveLoadFile(
      [this](std::uint64_t offset, std::span<std::uint8_t> out) {
        return buffer_.ReadWorking(offset, out);
      },
      buffer_.Size(), path, format, error);
}

bool FileLoadSave::SaveChipData(const std::filesystem::path& target, FileFormatChoice format) {
  const bool binary = format.format == FileFormat::kBinary;
  int fd = -1;
  if (binary) {
    fd = ::open(target.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
      ReportSaveFailure("the file cannot be created; the chip data stay in the image");
      return false;
    }
  }
  if (!log_.OpenRecord()) {
    if (fd >= 0) ::close(fd);
    ReportSaveFailure("the operation log cannot be opened; nothing was written");
    return false;
  }
  const std::string chip = ChipName();
  log_.WriteChipDataHead(LogTimeStamp(std::time(nullptr)), chip);
  std::string error = "a write failed";
  bool copied = false;
  bool closed = true;
  if (binary) {
    copied = CopyWhole(buffer_.WorkingFd(), fd, buffer_.Size());
    closed = ::close(fd) == 0;
  } else {
    copied = WriteLoadFile(target, format, &error);
  }
  if (copied && closed) log_.WriteSavedAs(chip, FileNameOf(target));
  log_.WriteEnd();
  (void)log_.CloseRecord();
  if (!copied || !closed) {
    ReportSaveFailure(error + "; the chip data stay in the image");
    return false;
  }
  buffer_.SetPathBoxText("chip data saved");
  if (!Load(target, true)) return false;
  host_.GrayMenuItem(kCommandSave);
  host_.ShowStatus("file saved", false, false);
  return true;
}

bool FileLoadSave::SaveAs() {
  if (!buffer_.Loaded() || buffer_.State().busy_writing.load()) return false;
  const std::optional<std::filesystem::path> target =
      choose_save_path_ ? choose_save_path_() : std::nullopt;
  if (!target) return false;
  const std::filesystem::path& chosen = *target;
  if (buffer_.IsSystemFile(chosen)) {
    host_.MessageBox(kSystemFileForbid, "warning", BoxIcon::kWarning, BoxButtons::kOk);
    return false;
  }
  if (SamePath(chosen, buffer_.CurrentPath())) return Save();
  const FileFormatChoice format = SaveFormatOf(chosen);
  if (buffer_.CurrentIsChipData()) {
    if (hex_.EditMode() && hex_.EditBoxOpen()) hex_.Commit();
    return SaveChipData(chosen, format);
  }
  if (format.format != FileFormat::kBinary) {
    std::string error;
    if (!WriteLoadFile(chosen, format, &error)) {
      ReportSaveFailure(error + "; the image is unchanged");
      return false;
    }
    host_.ShowStatus("file saved", false, false);
    return true;
  }
  int fd = ::open(chosen.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    ReportSaveFailure("the file cannot be created");
    return false;
  }
  const bool copied = CopyWhole(buffer_.WorkingFd(), fd, buffer_.Size());
  if (::close(fd) != 0 || !copied) {
    ReportSaveFailure("a write failed; the image is unchanged");
    return false;
  }
  host_.ShowStatus("file saved", false, false);
  return true;
}

bool FileLoadSave::HasUnsavedChanges() const {
  return buffer_.Loaded() && !buffer_.ChangedRanges().empty();
}

bool FileLoadSave::SettleUnsavedChanges() {
  if (!HasUnsavedChanges()) return true;
  switch (host_.MessageBox(kUnsavedChangesQuestion, "info", BoxIcon::kQuestion,
                           BoxButtons::kYesNoCancel)) {
    case BoxAnswer::kYes:
      return Save();
    case BoxAnswer::kNo:
      return true;
    default:
      return false;
  }
}

}  // namespace tarvix
