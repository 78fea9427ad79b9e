// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/file_reasons.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <vector>

#include "buffer/stream_copy.h"
#include "firmware/tvx_image.h"

namespace tarvix::cli {
namespace {

std::string Hex6(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%06X", value);
  return text;
}

}  // namespace

std::string WhyUnreadable(const std::filesystem::path& path) {
  // Non-blocking: opening a pipe to tell why it cannot be read must not wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::strerror(errno);
  struct stat st {};
  std::string why;
  if (::fstat(fd, &st) != 0)
    why = std::strerror(errno);
  else
    why = NotAFileReason(st.st_mode);
  ::close(fd);
  return why;
}

std::string WhyUnwritable(const std::filesystem::path& path) {
  if (std::string why = NotAFileReason(path); !why.empty()) return why;
  std::error_code ec;
  const bool existed = std::filesystem::exists(path, ec);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) return std::strerror(errno);
  ::close(fd);
  if (!existed) std::filesystem::remove(path, ec);
  return {};
}

namespace {

// The file's identity when it is there, to find one file under two names.
struct Identity {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  std::filesystem::path spelled;  // the absolute path with "." and ".." resolved
};

Identity IdentityOf(const std::filesystem::path& path) {
  Identity id;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    id.exists = true;
    id.device = st.st_dev;
    id.inode = st.st_ino;
  }
  std::error_code ec;
  id.spelled = std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec);
  if (ec) id.spelled = path.lexically_normal();
  return id;
}

bool Same(const Identity& a, const Identity& b) {
  if (a.exists && b.exists) return a.device == b.device && a.inode == b.inode;
  return !a.exists && !b.exists && a.spelled == b.spelled;
}

std::string Named(const NamedFile& file) {
  return file.option.empty() ? file.path.string() : file.option + " " + file.path.string();
}

}  // namespace

bool CheckNamedFiles(const std::vector<NamedFile>& inputs, const std::vector<NamedFile>& outputs) {
  bool ok = true;
  const auto refuse = [&ok](const std::string& text) {
    std::cerr << "tarvix-cli: " << text << "\n";
    ok = false;
  };
  for (const auto* group : {&inputs, &outputs})
    for (const NamedFile& file : *group)
      if (const std::string why = NotAFileReason(file.path); !why.empty())
        refuse(Named(file) + ": " + why);
  if (!ok) return false;

  std::vector<Identity> in_ids, out_ids;
  for (const NamedFile& file : inputs) in_ids.push_back(IdentityOf(file.path));
  for (const NamedFile& file : outputs) out_ids.push_back(IdentityOf(file.path));
  for (std::size_t o = 0; o < outputs.size(); ++o) {
    for (std::size_t i = 0; i < inputs.size(); ++i)
      if (in_ids[i].exists && Same(out_ids[o], in_ids[i]))
        refuse(Named(outputs[o]) + " is the same file as " + Named(inputs[i]) +
               ": writing one would destroy the other; nothing was done");
    for (std::size_t p = 0; p < o; ++p)
      if (Same(out_ids[o], out_ids[p]))
        refuse(Named(outputs[o]) + " is the same file as " + Named(outputs[p]) +
               ": one would overwrite the other; nothing was done");
  }
  return ok;
}

bool ReadWholeInput(const std::filesystem::path& path, std::uint64_t largest, std::string_view what,
                    std::vector<std::uint8_t>* out) {
  const auto refuse = [&path](const std::string& why) {
    std::cerr << "tarvix-cli: " << path.string() << ": " << why << "\n";
    return false;
  };
  const UniqueFd fd = OpenRegularForReading(path);
  if (!fd.Valid()) return refuse(WhyUnreadable(path));
  const std::int64_t length = FileLength(fd.Get());
  if (length < 0) return refuse(std::strerror(errno));
  if (static_cast<std::uint64_t>(length) > largest)
    return refuse("it is " + std::to_string(length) + " bytes; " + std::string(what) +
                  " is never more than " + std::to_string(largest));
  out->resize(static_cast<std::size_t>(length));
  if (ReadAt(fd.Get(), *out, 0) != length) return refuse("it could not be read to its end");
  return true;
}

std::string TvxProblem(const std::filesystem::path& path) {
  if (std::string why = WhyUnreadable(path); !why.empty()) return why;
  const TvxFile file(path);
  if (!file.IsOpen()) return "it cannot be opened";
  const std::uint64_t size = file.Size();
  if (size < kTvxMinimumSize)
    return "it holds " + std::to_string(size) + " byte(s); a firmware image has at least " +
           std::to_string(kTvxMinimumSize) + " (its payload and a 3-byte checksum)";
  if (file.Check()) return {};
  // Recompute what the check compared, to say by how much it is off.
  std::vector<std::uint8_t> chunk(65536);
  const std::uint64_t payload = size - kTvxTrailerSize;
  std::uint32_t sum = 0;
  for (std::uint64_t at = 0; at < payload;) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), payload - at));
    const std::int64_t n = file.ReadAt(at, std::span(chunk).first(want));
    if (n != static_cast<std::int64_t>(want)) return "it cannot be read to its end";
    sum = TvxByteSum(std::span(chunk).first(want), sum);
    at += want;
  }
  std::uint8_t tail[kTvxTrailerSize] = {};
  if (file.ReadAt(payload, std::span(tail)) != static_cast<std::int64_t>(kTvxTrailerSize))
    return "it cannot be read to its end";
  const std::uint32_t stored =
      (std::uint32_t{tail[0]} << 16) | (std::uint32_t{tail[1]} << 8) | tail[2];
  return "its checksum does not match: the last 3 bytes say " + Hex6(stored) +
         ", the byte sum of the " + std::to_string(payload) + " bytes before them is " +
         (sum > kTvxLargestSum ? std::to_string(sum) : Hex6(sum)) +
         " (not a firmware image, or a damaged one)";
}

}  // namespace tarvix::cli
