// SPDX-License-Identifier: GPL-3.0-or-later
// ImageBuffer: the one loaded image. It lives on disk, never in memory: the user's
// source file stays open and untouched until Save, every change goes to the private
// working copy "k_est1.dll", and data read from a chip lands in "k_est0.dll" first.
// Beside the two open files it keeps the counters the window shows: size, rows, top
// row and the two 64-bit byte sums, all kept current by the change methods below, so
// nobody has to rescan the image after an edit.
//
// Threads: the window thread owns the buffer; the worker reads the working copy
// through ReadWorking/ReadChipSized (positioned reads, no shared file position) while
// the commands that could change it are disabled. Listeners run on the thread that
// made the change.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "buffer/byte_source.h"
#include "buffer/load_file_format.h"
#include "state/main_state.h"

namespace tarvix {

// Window title without an image.
inline constexpr char kWindowTitle[] = "VRNT_Tarvix Ultra Speed Writer V4.0";
// Path box text before the first load.
inline constexpr char kPathBoxInitial[] = "support file dragging...";
// A row count above this cannot be shown by the hex view ("file is too large to show").
inline constexpr std::uint64_t kMaxShownRows = 134217747;

// "%2X%8X" of the high and low 32 bits with blanks made "0": ten digits below 2^40.
[[nodiscard]] std::string FormatSum(std::uint64_t sum);
// "%0.2fKB" of size / 1024.
[[nodiscard]] std::string SizeText(std::uint64_t size);

// Sees every byte a load copies, in the load's own pass, and hears of every change to
// the working copy before it is made (the image checksums are kept this way, without
// reading the image again).
class ImageTap {
 public:
  virtual ~ImageTap() = default;
  // A load begins copying; the previous image is gone.
  virtual void LoadBegin() = 0;
  // The next bytes of the image, in order.
  virtual void LoadBytes(std::span<const std::uint8_t> bytes) = 0;
  // The load is over: `loaded` with the working copy's descriptor (the buffer's own;
  // dup it to keep it), else nothing is loaded.
  virtual void LoadEnd(bool loaded, int working_fd) = 0;
  // Bytes of the working copy are about to change.
  virtual void Changing() = 0;
  // The image was closed.
  virtual void Closed() = 0;
};

// The working copy is also the byte source of the window's chip operations.
class ImageBuffer final : public ByteSource {
 public:
  // What changed, so views refresh only what they show.
  enum class Change {
    kImage,     // an image was loaded or closed (everything may differ)
    kContents,  // bytes of the working copy changed (hex page must refresh)
    kRows,      // size, row count, chip rows or scroll rows changed
    kFileSum,
    kChipSum,
    kTitle,    // window title
    kPathBox,  // path box text (MainState::file_path_text)
  };
  using Listener = std::function<void(Change)>;

  // Result of a file step; the load and save operations turn these into messages.
  enum class Status {
    kOk,
    kSourceOpenFailed,   // source missing, unreadable or not a regular file
    kWorkingOpenFailed,  // working copy cannot be created/reopened (folder not writable)
    kReadFailed,         // a read of the source or working copy failed
    kWriteFailed,        // a write to the working copy failed (disk full, ...)
    kNotLoaded,
  };

  // Paths, the chip capacity, file loaded and the path box text live in `state`.
  explicit ImageBuffer(MainState& state);
  ~ImageBuffer() override;
  ImageBuffer(const ImageBuffer&) = delete;
  ImageBuffer& operator=(const ImageBuffer&) = delete;

  // ---- what the window shows -------------------------------------------------
  [[nodiscard]] bool Loaded() const { return state_.file_loaded.load() != 0; }
  [[nodiscard]] std::uint64_t Size() const override { return size_; }
  [[nodiscard]] std::uint64_t RowCount() const { return row_count_; }
  [[nodiscard]] std::uint64_t ChipRows() const { return chip_rows_; }
  // max(RowCount, ChipRows): the rows the hex view can scroll through.
  [[nodiscard]] std::uint64_t ScrollRows() const { return scroll_rows_; }
  [[nodiscard]] std::uint64_t TopRow() const { return top_row_; }
  void SetTopRow(std::uint64_t row) { top_row_ = row; }
  [[nodiscard]] std::uint64_t FileSum() const { return file_sum_; }
  [[nodiscard]] std::uint64_t ChipSum() const { return chip_sum_; }
  // Label texts: "0000000000" until something is loaded.
  [[nodiscard]] std::string FileSumText() const { return FormatSum(file_sum_); }
  [[nodiscard]] std::string ChipSumText() const { return FormatSum(chip_sum_); }
  [[nodiscard]] const std::string& SizeLabel() const { return size_text_; }
  [[nodiscard]] const std::string& WindowTitle() const { return title_; }
  [[nodiscard]] const std::string& PathBoxText() const { return state_.file_path_text; }
  // The chip capacity in bytes (MainState::chip_capacity, set by the selection).
  [[nodiscard]] std::uint32_t Capacity() const { return state_.chip_capacity.load(); }
  [[nodiscard]] const Paths& PrivatePaths() const { return state_.paths; }
  [[nodiscard]] MainState& State() { return state_; }

  // The file the image was loaded from (the chip data path after a chip read).
  [[nodiscard]] const std::filesystem::path& CurrentPath() const { return current_path_; }
  [[nodiscard]] bool CurrentIsChipData() const;
  // True for the chip data file and the working copy (compared after resolving).
  [[nodiscard]] bool IsSystemFile(const std::filesystem::path& path) const;

  // ---- reading ---------------------------------------------------------------
  // Positioned read of the working copy; returns the bytes read (short at the end),
  // or -1 on a read error / nothing loaded. Safe from the worker thread.
  [[nodiscard]] std::int64_t ReadWorking(std::uint64_t offset, std::span<std::uint8_t> out) const;
  // ByteSource: the working copy, as ReadWorking.
  [[nodiscard]] std::int64_t ReadAt(std::uint64_t offset,
                                    std::span<std::uint8_t> out) const override {
    return ReadWorking(offset, out);
  }
  // The same from the source file (the hex view compares against it).
  [[nodiscard]] std::int64_t ReadSource(std::uint64_t offset, std::span<std::uint8_t> out) const;
  // Current length of the open source file (it may change under us), -1 on error.
  [[nodiscard]] std::int64_t SourceLength() const;
  // Chip-sized view: bytes at or past Size() read as 0xFF. Fills `out` whole.
  [[nodiscard]] bool ReadChipSized(std::uint64_t offset, std::span<std::uint8_t> out) const;

  // ---- changes (each keeps size, rows, both sums and the change record current,
  //      then notifies kContents, kRows, kFileSum, kChipSum as needed) ------------
  // Writes `bytes` at `offset`; a gap between Size() and `offset` is filled with 0xFF.
  [[nodiscard]] Status Write(std::uint64_t offset, std::span<const std::uint8_t> bytes);
  [[nodiscard]] Status WriteByte(std::uint64_t offset, std::uint8_t value) {
    return Write(offset, std::span<const std::uint8_t>(&value, 1));
  }
  // Writes `count` copies of `value` at `offset` (gap before it filled with 0xFF).
  [[nodiscard]] Status Fill(std::uint64_t offset, std::uint64_t count, std::uint8_t value);
  // Makes the image at least `new_size` bytes long, appending 0xFF.
  [[nodiscard]] Status ExtendTo(std::uint64_t new_size);

  // ---- chip selection -----------------------------------------------------------
  // The current chip changed (ChipSelection::Change::kCurrentChip): recompute chip
  // rows, scroll rows and the chip sum for the new capacity.
  void OnChipChanged();

  // ---- used by the load and save operations ------------------------------------
  // Copies `source` into the working copy and makes it the loaded image. The source
  // is opened (and checked to be a readable regular file) before anything of the
  // previous image is touched, so a failure there leaves the previous image loaded;
  // a failure after the copy started leaves nothing loaded. Sets size, rows, top row
  // 0, file sum, chip sum and the size text; does not touch title or path box.
  [[nodiscard]] Status LoadFrom(const std::filesystem::path& source);
  // The same for a load file (Intel HEX, S-record) already decoded into `decoded` (a
  // private file open for reading and writing, which the buffer takes): it stands for
  // the source from now on, so the hex view compares with it and Save writes its
  // changes into it before the whole image is written back as `source` in `format`.
  [[nodiscard]] Status LoadFrom(const std::filesystem::path& source, int decoded,
                                FileFormat format);
  // The format of the source file as loaded, and whether the source the buffer reads
  // is a decoded copy rather than the file itself.
  [[nodiscard]] FileFormat SourceFormat() const { return source_format_; }
  [[nodiscard]] bool SourceIsDecoded() const { return source_format_ != FileFormat::kBinary; }
  // Closes both files and clears file loaded, size, rows and top row.
  void Close();
  // Sets the title / path box text and notifies.
  void SetWindowTitle(std::string title);
  void SetPathBoxText(std::string text);
  void SetSizeText(std::string text);

  // Ranges [first, last) of the working copy changed since the load or the last
  // successful save, merged and in ascending order. Save compares only these when
  // the source file is unchanged since it was loaded.
  [[nodiscard]] const std::map<std::uint64_t, std::uint64_t>& ChangedRanges() const {
    return changed_;
  }
  // True when the source file on disk is no longer the one that was loaded or last
  // saved (another program replaced, truncated or rewrote it).
  [[nodiscard]] bool SourceChangedOnDisk() const;
  // Save has written the working copy's differences into the source file.
  void MarkSaved();
  // Opens the source path read-write for Save: a new descriptor the caller closes,
  // or -1 when it cannot be (read-only, vanished). The read-only handle stays open.
  // For a decoded load file, the decoded copy (the file itself is written whole).
  [[nodiscard]] int OpenSourceForWriting() const;
  // Adopts a new source path after a chip data save or Save As (reopens it read-only).
  [[nodiscard]] Status AdoptSource(const std::filesystem::path& path);
  [[nodiscard]] int WorkingFd() const { return working_fd_; }
  [[nodiscard]] int SourceFd() const { return source_fd_; }

  void AddListener(Listener listener) { listeners_.push_back(std::move(listener)); }
  // The one tap (none: nothing watches).
  void SetTap(ImageTap* tap) { tap_ = tap; }

 private:
  void Notify(Change change);
  void RecomputeRows();
  [[nodiscard]] Status RecomputeChipSum();
  [[nodiscard]] std::uint64_t ChipSumFromPrefix() const;
  void RescanSums();
  void NoteChanged(std::uint64_t first, std::uint64_t last);
  void SnapshotSource();
  // Writes without sum bookkeeping; returns false on a short write.
  [[nodiscard]] bool WriteAll(std::uint64_t offset, std::span<const std::uint8_t> bytes);
  [[nodiscard]] Status ReplaceRun(std::uint64_t offset, std::uint64_t count,
                                  const std::uint8_t* bytes, std::uint8_t fill_value);

  [[nodiscard]] Status Copy(const std::filesystem::path& source, int source_fd, FileFormat format);

  MainState& state_;
  ImageTap* tap_ = nullptr;
  FileFormat source_format_ = FileFormat::kBinary;
  int source_fd_ = -1;
  int working_fd_ = -1;
  std::filesystem::path current_path_;
  std::uint64_t size_ = 0;
  std::uint64_t row_count_ = 0;
  std::uint64_t chip_rows_ = 0;
  std::uint64_t scroll_rows_ = 0;
  std::uint64_t top_row_ = 0;
  std::uint64_t file_sum_ = 0;
  // Sum of the first min(size, capacity) bytes; the chip sum adds 0xFF padding to it.
  std::uint64_t prefix_sum_ = 0;
  std::uint32_t prefix_capacity_ = 0;
  std::uint64_t chip_sum_ = 0;
  std::string size_text_ = "0";
  std::string title_ = kWindowTitle;
  std::map<std::uint64_t, std::uint64_t> changed_;
  // Identity of the source file when it was loaded or last saved.
  struct SourceStamp {
    std::uint64_t device = 0, inode = 0, size = 0;
    std::int64_t mtime_ns = 0;
    bool valid = false;
  } stamp_;
  std::vector<Listener> listeners_;
};

}  // namespace tarvix
