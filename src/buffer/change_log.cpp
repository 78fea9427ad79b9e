// SPDX-License-Identifier: GPL-3.0-or-later
#include "buffer/change_log.h"

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace tarvix {

namespace {

constexpr std::size_t kFlushSize = 1 << 16;

// Length of the UTF-8 sequence a lead byte starts; 1 for a byte that starts none.
std::size_t Utf8Length(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
  if (lead >= 0xC2) return 2;
  return 1;
}

bool IsAscii(std::string_view text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

std::string Hex(std::uint64_t value, int width) {
  char text[32];
  std::snprintf(text, sizeof text, "%*llX", width, static_cast<unsigned long long>(value));
  std::string result = text;
  for (auto& c : result) {
    if (c == ' ') c = '0';
  }
  return result;
}

const std::string kBeginLine = std::string(39, '-') + "BEGIN" + std::string(39, '-');
const std::string kEndLine = std::string(40, '-') + "END" + std::string(40, '-');

}  // namespace

std::string ToGbk(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  iconv_t cd = iconv_open("GBK", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    // Without a converter keep the ASCII and mark everything else.
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
      auto c = static_cast<unsigned char>(utf8[i]);
      if (c < 0x80) {
        out += static_cast<char>(c);
        ++i;
      } else {
        out += '?';
        i += Utf8Length(c);
      }
    }
    return out;
  }
  std::string out;
  std::string buffer(utf8.size() * 2 + 16, '\0');
  char* in = const_cast<char*>(utf8.data());
  std::size_t in_left = utf8.size();
  while (in_left > 0) {
    char* out_ptr = buffer.data();
    std::size_t out_left = buffer.size();
    std::size_t r = iconv(cd, &in, &in_left, &out_ptr, &out_left);
    out.append(buffer.data(), buffer.size() - out_left);
    if (r != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // EILSEQ (not representable or not UTF-8) or EINVAL (cut short): substitute one
    // character and go on after it.
    out += '?';
    std::size_t skip = Utf8Length(static_cast<unsigned char>(*in));
    if (skip > in_left) skip = in_left;
    // A malformed sequence is skipped one byte at a time.
    for (std::size_t k = 1; k < skip; ++k) {
      if ((static_cast<unsigned char>(in[k]) & 0xC0) != 0x80) {
        skip = k;
        break;
      }
    }
    in += skip;
    in_left -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  iconv_close(cd);
  return out;
}

std::string FromGbk(std::string_view gbk) {
  if (IsAscii(gbk)) return std::string(gbk);
  constexpr char kReplacement[] = "\xEF\xBF\xBD";
  iconv_t cd = iconv_open("UTF-8", "GBK");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    std::string out;
    for (unsigned char c : gbk) out += c < 0x80 ? std::string(1, static_cast<char>(c)) : "?";
    return out;
  }
  std::string out;
  std::string buffer(gbk.size() * 2 + 16, '\0');
  char* in = const_cast<char*>(gbk.data());
  std::size_t in_left = gbk.size();
  while (in_left > 0) {
    char* out_ptr = buffer.data();
    std::size_t out_left = buffer.size();
    const std::size_t r = iconv(cd, &in, &in_left, &out_ptr, &out_left);
    out.append(buffer.data(), buffer.size() - out_left);
    if (r != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // A byte GBK does not define (or a character cut short at the end): mark it, go on.
    out += kReplacement;
    ++in;
    --in_left;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  iconv_close(cd);
  return out;
}

std::string LogTimeStamp(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char text[64];
  std::strftime(text, sizeof text, "    %Y-%m-%d %H:%M:%S", &local);
  return text;
}

ChangeLog::~ChangeLog() {
  if (fd_ >= 0) (void)CloseRecord();
}

bool ChangeLog::Prepare() {
  int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool ChangeLog::OpenRecord() {
  if (fd_ >= 0) (void)CloseRecord();
  failed_ = false;
  pending_.clear();
  // A log deleted while the program runs is created again: refusing would lose the
  // user's save for the sake of its history.
  int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return false;
  }
  if (static_cast<std::uint64_t>(st.st_size) >= kChangeLogLimit && ::ftruncate(fd, 0) != 0) {
    ::close(fd);
    return false;
  }
  if (::lseek(fd, 0, SEEK_END) < 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void ChangeLog::WriteUserFileHead(std::string_view time_stamp, std::string_view file_name) {
  std::string head = "\r\n" + kBeginLine + "\r\n";
  head.append(time_stamp).append(" ").append(file_name).append(" 文件修改如下：\r\n");
  Append(ToGbk(head));
}

void ChangeLog::WriteChipDataHead(std::string_view time_stamp, std::string_view chip_name) {
  std::string head = "\r\n" + kBeginLine + "\r\n";
  head.append(time_stamp).append(" ").append(chip_name).append(" 芯片内数据保存如下：\r\n");
  Append(ToGbk(head));
}

void ChangeLog::WriteChange(std::uint64_t offset, std::optional<std::uint8_t> old_value,
                            std::uint8_t new_value) {
  std::string line = "        [" + Hex(offset, 8) + "]: ";
  line += old_value ? Hex(*old_value, 2) : std::string("null");
  line += " --> " + Hex(new_value, 2) + "\r\n";
  Append(line);
}

void ChangeLog::WriteSavedAs(std::string_view chip_name, std::string_view file_name) {
  std::string line = "        [";
  line.append(chip_name).append(" chip data] saved as [").append(file_name).append("]\r\n");
  Append(ToGbk(line));
}

void ChangeLog::WriteEnd() {
  Append(kEndLine);
}

void ChangeLog::Append(std::string_view bytes) {
  if (fd_ < 0) {
    failed_ = true;
    return;
  }
  pending_.append(bytes);
  if (pending_.size() >= kFlushSize) Flush();
}

bool ChangeLog::Flush() {
  std::size_t done = 0;
  while (done < pending_.size() && fd_ >= 0) {
    ssize_t n = ::write(fd_, pending_.data() + done, pending_.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed_ = true;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  pending_.clear();
  return !failed_;
}

bool ChangeLog::CloseRecord() {
  if (fd_ < 0) return false;
  Flush();
  if (::close(fd_) != 0) failed_ = true;
  fd_ = -1;
  return !failed_;
}

std::string ChangeLog::ShownText() const {
  const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  struct stat st {};
  std::string bytes;
  if (::fstat(fd, &st) == 0 && st.st_size > 0) {
    const auto size = static_cast<std::uint64_t>(st.st_size);
    const std::uint64_t from = size > kShownLogTail ? size - kShownLogTail : 0;
    bytes.resize(static_cast<std::size_t>(size - from));
    std::size_t got = 0;
    while (got < bytes.size()) {
      const ssize_t n =
          ::pread(fd, bytes.data() + got, bytes.size() - got, static_cast<off_t>(from + got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    // A tail starts at a line, never inside a two-byte character.
    if (from > 0) {
      const std::size_t line = bytes.find("\r\n");
      bytes.erase(0, line == std::string::npos ? bytes.size() : line + 2);
    }
  }
  ::close(fd);
  return FromGbk(bytes);
}

void ChangeLog::Show(Host& host, const ShellOpen& open_with_shell, const ShowText& show_here) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path_, ec)) {
    host.MessageBox(kShowLogNotFound, "info", BoxIcon::kWarning, BoxButtons::kOk);
    return;
  }
  const bool opened = open_with_shell && open_with_shell(path_);
  // Touch the log the way a record would, without creating it.
  int fd = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
  if (fd >= 0) {
    (void)::lseek(fd, 0, SEEK_END);
    ::close(fd);
  }
  // The file is there but the desktop has nothing to show it with.
  if (!opened && show_here) show_here(ShownText());
}

}  // namespace tarvix
