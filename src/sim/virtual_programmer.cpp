// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/virtual_programmer.h"

#include <algorithm>
#include <cstring>

#include "firmware/firmware_scramble.h"

namespace tarvix::sim {
namespace {

using Lock = std::lock_guard<std::mutex>;

ChipParameters ParametersFromPacket(const std::uint8_t* p) {
  ChipParameters c;
  c.word_organisation = (p[1] & 0x40) != 0;
  c.five_volt = (p[1] & 0x80) != 0;
  c.operation_type_high = p[2];
  c.operation_type_low = p[3];
  c.page_size_code = p[4];
  c.sector_size_code = p[5];
  c.capacity = ReadBigEndian32(p + 6);
  c.main_address = p[10];
  c.slave_address_high = p[11];
  c.slave_address_low = p[12];
  return c;
}

ChipFamily FamilyOf(const ChipParameters& c) {
  return FamilyFromPacketByte(c.operation_type_high);
}

// The image the programmer leaves the factory with: arbitrary code bytes and the
// byte-sum trailer an upgrade file carries.
std::vector<std::uint8_t> FactoryFirmware() {
  std::vector<std::uint8_t> image(16 * 1024);
  std::uint32_t x = 0x5017u;
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 3 < image.size(); ++i) {
    x = x * 1103515245u + 12345u;
    image[i] = static_cast<std::uint8_t>(x >> 16) & 0x7F;  // keeps the sum within 24 bits
    sum += image[i];
  }
  image[image.size() - 3] = static_cast<std::uint8_t>(sum >> 16);
  image[image.size() - 2] = static_cast<std::uint8_t>(sum >> 8);
  image[image.size() - 1] = static_cast<std::uint8_t>(sum);
  return image;
}

bool PipeMatches(Pipe fault, Pipe transfer) {
  return fault == Pipe::kAny || fault == transfer;
}

}  // namespace

VirtualProgrammer::VirtualProgrammer(std::mutex& bus_mutex, const ProgrammerConfig& config)
    : mutex_(bus_mutex), config_(config), dfu_(config.dfu_mode) {
  config_.serial &= 0xFFFFFF;
  firmware_.assign(std::max<std::size_t>(config_.firmware_area, 1024), 0xFF);
  const auto image = FactoryFirmware();
  std::copy_n(image.begin(), std::min(image.size(), firmware_.size()), firmware_.begin());
  firmware_length_ = std::min(image.size(), firmware_.size());
  firmware_valid_ = !config.dfu_mode;
}

// --- Public side -------------------------------------------------------------------

std::unique_ptr<VirtualChip> VirtualProgrammer::SwapChip(std::unique_ptr<VirtualChip> chip) {
  Lock lock(mutex_);
  std::swap(chip_, chip);
  return chip;
}

VirtualChip* VirtualProgrammer::chip() {
  Lock lock(mutex_);
  return chip_.get();
}

std::uint32_t VirtualProgrammer::serial() const {
  Lock lock(mutex_);
  return config_.serial;
}

void VirtualProgrammer::SetSerial(std::uint32_t serial) {
  Lock lock(mutex_);
  config_.serial = serial & 0xFFFFFF;
}

std::uint8_t VirtualProgrammer::firmware_version() const {
  Lock lock(mutex_);
  return config_.firmware_version;
}

void VirtualProgrammer::SetFirmwareVersion(std::uint8_t version) {
  Lock lock(mutex_);
  config_.firmware_version = version;
}

bool VirtualProgrammer::InDfuMode() const {
  Lock lock(mutex_);
  return dfu_;
}

void VirtualProgrammer::SetFirmwareImage(const std::vector<std::uint8_t>& image) {
  Lock lock(mutex_);
  if (image.size() > firmware_.size()) firmware_.resize(image.size());
  std::fill(firmware_.begin(), firmware_.end(), 0xFF);
  std::copy(image.begin(), image.end(), firmware_.begin());
  firmware_length_ = image.size();
  firmware_valid_ = true;
}

std::vector<std::uint8_t> VirtualProgrammer::FirmwareImage() const {
  Lock lock(mutex_);
  return {firmware_.begin(), firmware_.begin() + static_cast<std::ptrdiff_t>(firmware_length_)};
}

bool VirtualProgrammer::FirmwareValid() const {
  Lock lock(mutex_);
  return firmware_valid_;
}

std::optional<ChipParameters> VirtualProgrammer::StoredParameters() const {
  Lock lock(mutex_);
  return stored_;
}

std::uint64_t VirtualProgrammer::CommandCount(std::uint8_t code) const {
  Lock lock(mutex_);
  const auto it = command_counts_.find(code);
  return it == command_counts_.end() ? 0 : it->second;
}

std::uint64_t VirtualProgrammer::CommandTotal() const {
  Lock lock(mutex_);
  return command_total_;
}

std::uint64_t VirtualProgrammer::FrameCount(std::uint8_t code) const {
  Lock lock(mutex_);
  const auto it = frame_counts_.find(code);
  return it == frame_counts_.end() ? 0 : it->second;
}

std::uint64_t VirtualProgrammer::PendingReplyBytes() const {
  Lock lock(mutex_);
  std::uint64_t n = 0;
  for (const Reply& r : replies_) n += (r.stream ? r.length : r.bytes.size()) - r.delivered;
  return n;
}

void VirtualProgrammer::AddReplyFault(ReplyFault fault) {
  Lock lock(mutex_);
  reply_faults_.push_back(std::move(fault));
}

void VirtualProgrammer::DropReply(ReplyKind kind, int times) {
  ReplyFault f;
  f.kind = kind;
  f.action = ReplyFault::Action::kDrop;
  f.times = times;
  AddReplyFault(std::move(f));
}

void VirtualProgrammer::ReplaceReply(ReplyKind kind, std::vector<std::uint8_t> bytes, int times) {
  ReplyFault f;
  f.kind = kind;
  f.action = ReplyFault::Action::kReplace;
  f.bytes = std::move(bytes);
  f.times = times;
  AddReplyFault(std::move(f));
}

void VirtualProgrammer::TruncateReply(ReplyKind kind, std::uint64_t kept_bytes, int times) {
  AddReplyFault({kind, ReplyFault::Action::kTruncate, {}, kept_bytes, 0, times});
}

void VirtualProgrammer::CorruptReply(ReplyKind kind, std::uint64_t offset, int times) {
  AddReplyFault({kind, ReplyFault::Action::kCorrupt, {}, offset, 0, times});
}

void VirtualProgrammer::DelayReply(ReplyKind kind, std::int64_t ms, int times) {
  AddReplyFault({kind,
                 ReplyFault::Action::kDelay,
                 {},
                 static_cast<std::uint64_t>(std::max<std::int64_t>(0, ms)),
                 0,
                 times});
}

void VirtualProgrammer::WrongFirmwareReadBack(std::uint64_t offset) {
  // Read-back comes in 1024-byte blocks: spoil the block that holds the offset.
  AddReplyFault({ReplyKind::kDfuReadBack,
                 ReplyFault::Action::kCorrupt,
                 {},
                 offset % 1024,
                 static_cast<int>(offset / 1024),
                 1});
}

void VirtualProgrammer::AddLinkFault(LinkFault fault) {
  Lock lock(mutex_);
  link_faults_.push_back(fault);
}

void VirtualProgrammer::AcceptPartialBulkWrites(int max_bytes, int times) {
  AddLinkFault({Pipe::kBulkOut, LinkFault::Action::kPartial, std::max(0, max_bytes), 0, times});
}

void VirtualProgrammer::FailLinkAfterBytes(std::uint64_t bytes) {
  Lock lock(mutex_);
  link_budget_ = bytes;
}

void VirtualProgrammer::RefuseOpen(bool refuse) {
  Lock lock(mutex_);
  refuse_open_ = refuse;
}

void VirtualProgrammer::RefuseConfiguration(bool refuse) {
  Lock lock(mutex_);
  refuse_configuration_ = refuse;
}

void VirtualProgrammer::RefuseInterface(bool refuse) {
  Lock lock(mutex_);
  refuse_interface_ = refuse;
}

void VirtualProgrammer::QueueStaleBytes(std::vector<std::uint8_t> bytes) {
  Lock lock(mutex_);
  Reply r;
  r.bytes = std::move(bytes);
  replies_.push_back(std::move(r));  // already in the FIFO: no fault touches it
}

void VirtualProgrammer::FailReenumeration(bool fail) {
  Lock lock(mutex_);
  fail_reenumeration_ = fail;
}

void VirtualProgrammer::ClearFaults() {
  Lock lock(mutex_);
  reply_faults_.clear();
  link_faults_.clear();
  link_budget_.reset();
  link_broken_ = false;
  refuse_open_ = refuse_configuration_ = refuse_interface_ = false;
  fail_reenumeration_ = false;
}

// --- Transfer side (bus lock held) ---------------------------------------------------

std::optional<VirtualProgrammer::Outcome> VirtualProgrammer::ApplyLinkFault(Pipe pipe, int& size,
                                                                            int timeout_ms) {
  if (link_broken_) return Outcome{kResultIoError, 0};
  for (auto it = link_faults_.begin(); it != link_faults_.end(); ++it) {
    if (!PipeMatches(it->pipe, pipe)) continue;
    if (it->action == LinkFault::Action::kPartial && pipe == Pipe::kInterruptOut) continue;
    if (it->skip > 0) {
      --it->skip;
      continue;
    }
    const LinkFault fault = *it;
    if (it->times > 0 && --it->times == 0) link_faults_.erase(it);
    switch (fault.action) {
      case LinkFault::Action::kTimeOut:
        return Outcome{kResultTimeout, std::int64_t{timeout_ms} * 1000};
      case LinkFault::Action::kFail:
        return Outcome{kResultIoError, 0};
      case LinkFault::Action::kPartial:
        size = std::min(size, fault.max_bytes);
        return std::nullopt;
    }
  }
  return std::nullopt;
}

bool VirtualProgrammer::SpendLinkBudget(std::uint64_t bytes) {
  if (!link_budget_) return true;
  if (bytes > *link_budget_) {
    link_broken_ = true;
    link_budget_.reset();
    return false;
  }
  *link_budget_ -= bytes;
  return true;
}

VirtualProgrammer::Outcome VirtualProgrammer::OnInterruptWrite(int endpoint,
                                                               const std::uint8_t* data, int size,
                                                               int timeout_ms, const Now& now) {
  int n = size;
  if (auto fault = ApplyLinkFault(Pipe::kInterruptOut, n, timeout_ms)) return *fault;
  if (endpoint != kCommandEndpoint || size < 0) return {kResultInvalid, 0};
  if (!SpendLinkBudget(static_cast<std::uint64_t>(size))) return {kResultIoError, 0};
  const std::int64_t cost =
      now.realistic ? kTransferOverheadUs + static_cast<std::int64_t>(size * kLinkUsPerByte) : 0;
  if (size == static_cast<int>(kPacketSize) && data[0] == kPacketStart &&
      data[kPacketSize - 1] == kPacketEnd) {
    if (dfu_) {
      HandleDfuPacket(data, now);
    } else {
      HandlePacket(data, now);
    }
  } else if (size == 4 && data[0] == kPacketStart && data[3] == kPacketEnd) {
    ++frame_counts_[data[1]];
    // The normal firmware does not know the update frames; only the loader answers them.
    if (dfu_) HandleFrame(data[1], data[2], now);
  }
  return {size, cost};
}

VirtualProgrammer::Outcome VirtualProgrammer::OnBulkWrite(int endpoint, const std::uint8_t* data,
                                                          int size, int timeout_ms,
                                                          const Now& now) {
  int n = size;
  if (auto fault = ApplyLinkFault(Pipe::kBulkOut, n, timeout_ms)) return *fault;
  if (endpoint != kBulkOutEndpoint || size < 0) return {kResultInvalid, 0};
  const Outcome nak{kResultTimeout, std::int64_t{timeout_ms} * 1000};
  std::uint64_t room = 0;
  if (dfu_) {
    if (!dfu_receiving_) return nak;
    room = static_cast<std::uint64_t>(n);  // bytes past the firmware area are taken and dropped
  } else if (activity_ == Activity::kWriting) {
    room = write_limit_ - std::min(write_limit_, write_position_);
  } else if (activity_ == Activity::kFillReceiving) {
    room = fill_staging_.size() - fill_received_;
  } else {
    return nak;  // nobody reads the endpoint: the host's transfer is never taken
  }
  const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(room, n));
  if (count == 0 && n > 0) return nak;
  if (!SpendLinkBudget(count)) return {kResultIoError, 0};

  double program_us = 0;
  if (dfu_) {
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint64_t at = dfu_write_position_ + i;
      // The update area is flash too: unerased bits stay cleared.
      if (at < firmware_.size()) firmware_[at] &= ScrambleFirmwareByte(data[i], at);
    }
    dfu_write_position_ += count;
  } else if (activity_ == Activity::kWriting) {
    VirtualChip* c = ChipFor(write_family_);
    if (write_words_) {
      // 16-bit parts are written a whole word at a time; an odd byte waits for its partner.
      std::vector<std::uint8_t> words;
      words.reserve(count + 1);
      if (half_word_) words.push_back(*half_word_);
      words.insert(words.end(), data, data + count);
      const std::uint64_t start = write_position_ - (half_word_ ? 1 : 0);
      const std::size_t even = words.size() & ~std::size_t{1};
      if (c) c->Program(start, words.data(), even);
      half_word_.reset();
      if (even < words.size()) half_word_ = words.back();
    } else if (c) {
      c->Program(write_position_, data, count);
    }
    write_position_ += count;
    program_us = ProgramUsPerByte(write_family_) * static_cast<double>(count);
  } else {
    std::memcpy(fill_staging_.data() + fill_received_, data, count);
    fill_received_ += count;
  }
  const std::int64_t cost =
      now.realistic
          ? kTransferOverheadUs +
                static_cast<std::int64_t>(static_cast<double>(count) * kLinkUsPerByte + program_us)
          : 0;
  return {static_cast<int>(count), cost};
}

VirtualProgrammer::Outcome VirtualProgrammer::OnBulkRead(int endpoint, std::uint8_t* data, int size,
                                                         int timeout_ms, const Now& now) {
  int n = size;
  if (auto fault = ApplyLinkFault(Pipe::kBulkIn, n, timeout_ms)) return *fault;
  if (endpoint != kBulkInEndpoint || size < 0) return {kResultInvalid, 0};
  const Outcome timed_out{kResultTimeout, std::int64_t{timeout_ms} * 1000};
  if (replies_.empty()) return timed_out;
  Reply& r = replies_.front();
  const std::int64_t wait_ms = std::max<std::int64_t>(0, r.ready_at_ms - now.ms);
  if (wait_ms > timeout_ms) return timed_out;
  const std::uint64_t total = r.stream ? r.length : r.bytes.size();
  const auto count = static_cast<std::size_t>(
      std::min<std::uint64_t>(total - r.delivered, static_cast<std::uint64_t>(n)));
  if (!SpendLinkBudget(count)) return {kResultIoError, wait_ms * 1000};
  if (r.stream) {
    if (VirtualChip* c = ChipFor(r.family)) {
      c->Read(r.address + r.delivered, data, count);
    } else {
      std::memset(data, 0xFF, count);
    }
  } else {
    std::memcpy(data, r.bytes.data() + r.delivered, count);
  }
  if (r.corrupt_at && *r.corrupt_at >= r.delivered && *r.corrupt_at < r.delivered + count)
    data[*r.corrupt_at - r.delivered] ^= 0xFF;
  const double us_per_byte = std::max(kLinkUsPerByte, r.us_per_byte);
  r.delivered += count;
  if (r.delivered >= total) replies_.pop_front();
  std::int64_t cost = wait_ms * 1000;
  if (now.realistic)
    cost +=
        kTransferOverheadUs + static_cast<std::int64_t>(static_cast<double>(count) * us_per_byte);
  return {static_cast<int>(count), cost};
}

void VirtualProgrammer::PowerUp(bool dfu) {
  dfu_ = dfu;
  activity_ = Activity::kIdle;
  replies_.clear();
  stored_.reset();
  half_word_.reset();
  fill_staging_.clear();
  dfu_receiving_ = false;
  dfu_finish_ok_ = false;
  link_broken_ = false;
  link_budget_.reset();
}

bool VirtualProgrammer::TakeReenumerationRequest() {
  const bool requested = reenumeration_requested_;
  reenumeration_requested_ = false;
  return requested;
}

// --- Firmware ---------------------------------------------------------------------------

void VirtualProgrammer::Abort() {
  activity_ = Activity::kIdle;
  half_word_.reset();
  fill_staging_.clear();
  fill_received_ = 0;
  // Data not yet sent stops; short replies already in the FIFO stay for the host to drain.
  std::erase_if(replies_, [](const Reply& r) { return r.stream; });
}

void VirtualProgrammer::HandlePacket(const std::uint8_t* p, const Now& now) {
  const std::uint8_t code = p[1] & 0x3F;
  ++command_counts_[code];
  ++command_total_;
  // Every packet carries the selected chip's parameters; the command works with them,
  // so a host that changed the selection without code 0 is still obeyed.
  current_ = ParametersFromPacket(p);
  const ChipFamily family = FamilyOf(current_);
  const std::uint32_t payload = ReadBigEndian32(p + kPayloadOffset);
  const std::int64_t soon = now.ms + (now.realistic ? kReplyLatencyMs : 0);

  switch (code) {
    case 0:
      stored_ = current_;
      break;
    case 1:
      Abort();
      activity_ = Activity::kWriting;
      write_position_ = 0;
      write_limit_ = current_.capacity;
      write_family_ = family;
      write_words_ = current_.word_organisation;
      break;
    case 2:
      if (activity_ == Activity::kWriting) {
        // A trailing odd byte of a 16-bit part has no partner and is not written.
        activity_ = Activity::kIdle;
        half_word_.reset();
        QueueBytes(ReplyKind::kWriteEnd, {kEndMark}, soon);
      } else if (activity_ == Activity::kFillReceiving) {
        double ms = 0;
        const std::uint64_t s = fill_staging_.size();
        if (VirtualChip* c = ChipFor(fill_family_)) {
          const ChipSpeed speed = c->Speed();
          if (c->family() == ChipFamily::kSpiFlash) {
            // Flash cannot turn a 0 back into a 1 without erasing the block first.
            c->EraseRange(fill_address_, s);
            ms += s >= 65536 ? static_cast<double>((s + 65535) / 65536) * 150.0
                             : static_cast<double>(speed.sector_erase_ms);
          }
          c->Program(fill_address_, fill_staging_.data(), fill_staging_.size());
          ms += speed.program_us_per_byte * static_cast<double>(s) / 1000.0;
        }
        activity_ = Activity::kIdle;
        fill_staging_.clear();
        QueueBytes(ReplyKind::kFillEnd, {kEndMark},
                   soon + (now.realistic ? static_cast<std::int64_t>(ms) : 0));
      }
      break;
    case 5: {
      Abort();
      std::int64_t ms = 50;
      if (VirtualChip* c = ChipFor(family)) {
        c->EraseAll();
        ms = c->Speed().chip_erase_ms;
      }
      QueueBytes(ReplyKind::kEraseDone, {kEraseDone}, now.ms + (now.realistic ? ms : 0));
      break;
    }
    case 7: {
      const auto id = ChipIdReply(current_);
      QueueBytes(ReplyKind::kChipId, {id.begin(), id.end()}, soon);
      break;
    }
    case 8:
      Abort();
      QueueStream(ReplyKind::kChipData, family, 0, payload, soon, now);
      break;
    case 9:
      Abort();
      break;
    case 13:
      Abort();
      QueueStream(ReplyKind::kChipData, family, 0, current_.capacity, soon, now);
      break;
    case 15: {
      Abort();
      std::optional<std::uint64_t> first;
      VirtualChip* c = ChipFor(family);
      if (c) first = c->FirstNonBlank(current_.capacity);
      std::vector<std::uint8_t> reply;
      if (first) {
        const auto a = BigEndian32(static_cast<std::uint32_t>(*first));
        reply = {kChipNotBlank, a[0], a[1], a[2], a[3], c->ReadByte(*first)};
      } else {
        reply = {kChipBlank, 0, 0, 0, 0, 0xFF};
      }
      const std::uint64_t scanned = first ? *first + 1 : current_.capacity;
      const auto scan_ms =
          static_cast<std::int64_t>(ReadUsPerByte(family) * static_cast<double>(scanned) / 1000.0);
      QueueBytes(ReplyKind::kBlankCheck, std::move(reply), soon + (now.realistic ? scan_ms : 0));
      break;
    }
    case 17: {
      std::uint64_t a = payload;
      if (current_.word_organisation) a &= ~std::uint64_t{1};  // a word starts on an even byte
      std::vector<std::uint8_t> reply{0xFF, 0xFF};
      if (VirtualChip* c = ChipFor(family)) c->Read(a, reply.data(), 2);
      QueueBytes(ReplyKind::kReadAt, std::move(reply), soon);
      break;
    }
    case 18:
      QueueBytes(ReplyKind::kVersion, {config_.firmware_version}, soon);
      break;
    case 19: {
      Abort();
      const std::uint64_t s = FillBlockSize(current_);
      if (s == 0) break;  // the part has no block to rewrite: nothing happens
      fill_address_ = payload;
      fill_family_ = family;
      fill_staging_.assign(static_cast<std::size_t>(s), 0xFF);
      if (VirtualChip* c = ChipFor(family)) c->Read(fill_address_, fill_staging_.data(), s);
      fill_received_ = 0;
      activity_ = Activity::kFillReceiving;
      QueueStream(ReplyKind::kFillBlock, family, fill_address_, s, soon, now);
      QueueBytes(ReplyKind::kFillBlockStatus, {kFillBlockSent}, soon);
      break;
    }
    case 21:
      Abort();
      reenumeration_requested_ = true;
      break;
    case 22: {
      const std::uint32_t s = config_.serial;
      // Bytes 0-3: "TVX" and the board revision; the host reads only the serial number.
      QueueBytes(ReplyKind::kIdentity,
                 {'T', 'V', 'X', 0x01, static_cast<std::uint8_t>(s >> 16),
                  static_cast<std::uint8_t>(s >> 8), static_cast<std::uint8_t>(s)},
                 soon);
      break;
    }
    case 25:
      Abort();
      stored_.reset();
      break;
    default:
      break;  // unknown codes are ignored, as the firmware does
  }
}

void VirtualProgrammer::HandleDfuPacket(const std::uint8_t* p, const Now& now) {
  const std::uint8_t code = p[1] & 0x3F;
  ++command_counts_[code];
  ++command_total_;
  const std::int64_t soon = now.ms + (now.realistic ? kReplyLatencyMs : 0);
  const std::uint32_t s = config_.serial;
  switch (code) {
    case 7:
      QueueBytes(ReplyKind::kChipId, {0x00, 0x00, 0x04}, soon);
      break;
    case 18:
      QueueBytes(ReplyKind::kVersion, {0xFF}, soon);  // the loader has no version to tell
      break;
    case 22:
      QueueBytes(ReplyKind::kIdentity,
                 {'T', 'V', 'X', 0x01, static_cast<std::uint8_t>(s >> 16),
                  static_cast<std::uint8_t>(s >> 8), static_cast<std::uint8_t>(s)},
                 soon);
      break;
    default:
      break;
  }
}

void VirtualProgrammer::HandleFrame(std::uint8_t code, std::uint8_t value, const Now& now) {
  const std::int64_t soon = now.ms + (now.realistic ? kReplyLatencyMs : 0);
  constexpr std::size_t kBlock = 1024;
  switch (code) {
    case 8:
      QueueBytes(ReplyKind::kDfuHandshake, {0x5A, 0xA5}, soon);
      break;
    case 1:
      if (dfu_receiving_)
        firmware_length_ = std::min<std::uint64_t>(dfu_write_position_, firmware_.size());
      dfu_receiving_ = false;
      break;
    case 13:
      dfu_erase_count_ = 0;
      QueueBytes(ReplyKind::kDfuStart, {13}, soon);
      break;
    case 2: {
      // The frame carries only the low 8 bits of the block; the high part follows the
      // running count, so images past 256 blocks erase in order.
      std::uint64_t block = (dfu_erase_count_ & ~std::uint64_t{0xFF}) | value;
      if (block < dfu_erase_count_) block += 0x100;
      dfu_erase_count_ = block + 1;
      std::uint8_t reply = value;
      if ((block + 1) * kBlock <= firmware_.size()) {
        std::fill_n(firmware_.begin() + static_cast<std::ptrdiff_t>(block * kBlock), kBlock, 0xFF);
        firmware_valid_ = false;
      } else {
        reply = 0xEE;  // past the update area
      }
      QueueBytes(ReplyKind::kDfuErase, {reply}, soon + (now.realistic ? 10 : 0));
      break;
    }
    case 4:
      dfu_receiving_ = true;
      dfu_write_position_ = 0;
      firmware_valid_ = false;
      break;
    case 5:
      firmware_length_ = std::min<std::uint64_t>(dfu_write_position_, firmware_.size());
      dfu_receiving_ = false;
      break;
    case 9:
      dfu_read_position_ = 0;
      break;
    case 6: {
      if (dfu_read_position_ >= firmware_.size()) break;
      const std::size_t n = static_cast<std::size_t>(
          std::min<std::uint64_t>(kBlock, firmware_.size() - dfu_read_position_));
      std::vector<std::uint8_t> block(
          firmware_.begin() + static_cast<std::ptrdiff_t>(dfu_read_position_),
          firmware_.begin() + static_cast<std::ptrdiff_t>(dfu_read_position_ + n));
      ScrambleFirmware(block, dfu_read_position_);
      dfu_read_position_ += n;
      QueueBytes(ReplyKind::kDfuReadBack, std::move(block), soon);
      break;
    }
    case 12: {
      // The loader checks the image itself before it accepts it: byte sum against the
      // trailer, and the last code byte the host names.
      const std::uint64_t n = firmware_length_;
      bool ok = n >= 4;
      if (ok) {
        std::uint32_t sum = 0;
        for (std::uint64_t i = 0; i + 3 < n; ++i) sum += firmware_[i];
        const std::uint32_t trailer = (std::uint32_t{firmware_[n - 3]} << 16) |
                                      (std::uint32_t{firmware_[n - 2]} << 8) | firmware_[n - 1];
        ok = sum == trailer && firmware_[n - 4] == value;
      }
      dfu_finish_ok_ = ok;
      QueueBytes(ReplyKind::kDfuFinish, {ok ? std::uint8_t{12} : kFinishRefused}, soon);
      break;
    }
    case 10:
      if (dfu_finish_ok_) firmware_valid_ = true;
      dfu_finish_ok_ = false;
      break;
    default:
      break;
  }
}

void VirtualProgrammer::QueueReply(Reply reply) {
  for (auto it = reply_faults_.begin(); it != reply_faults_.end(); ++it) {
    if (it->kind != ReplyKind::kAny && it->kind != reply.kind) continue;
    if (it->skip > 0) {
      --it->skip;
      continue;
    }
    const ReplyFault fault = *it;
    if (it->times > 0 && --it->times == 0) reply_faults_.erase(it);
    switch (fault.action) {
      case ReplyFault::Action::kDrop:
        return;
      case ReplyFault::Action::kReplace:
        reply.stream = false;
        reply.bytes = fault.bytes;
        reply.corrupt_at.reset();
        break;
      case ReplyFault::Action::kTruncate:
        if (reply.stream) {
          reply.length = std::min(reply.length, fault.size);
        } else if (fault.size < reply.bytes.size()) {
          reply.bytes.resize(static_cast<std::size_t>(fault.size));
        }
        break;
      case ReplyFault::Action::kCorrupt:
        if (reply.stream) {
          reply.corrupt_at = fault.size;
        } else if (fault.size < reply.bytes.size()) {
          reply.bytes[static_cast<std::size_t>(fault.size)] ^= 0xFF;
        }
        break;
      case ReplyFault::Action::kDelay:
        reply.ready_at_ms += static_cast<std::int64_t>(fault.size);
        break;
    }
    break;
  }
  replies_.push_back(std::move(reply));
}

void VirtualProgrammer::QueueBytes(ReplyKind kind, std::vector<std::uint8_t> bytes,
                                   std::int64_t ready_at_ms) {
  Reply r;
  r.kind = kind;
  r.bytes = std::move(bytes);
  r.ready_at_ms = ready_at_ms;
  QueueReply(std::move(r));
}

void VirtualProgrammer::QueueStream(ReplyKind kind, ChipFamily family, std::uint64_t address,
                                    std::uint64_t length, std::int64_t ready_at_ms,
                                    const Now& now) {
  Reply r;
  r.kind = kind;
  r.stream = true;
  r.family = family;
  r.address = address;
  r.length = length;
  r.ready_at_ms = ready_at_ms;
  r.us_per_byte = now.realistic ? ReadUsPerByte(family) : 0;
  QueueReply(std::move(r));
}

VirtualChip* VirtualProgrammer::ChipFor(ChipFamily family) {
  return chip_ && chip_->family() == family ? chip_.get() : nullptr;
}

std::array<std::uint8_t, 3> VirtualProgrammer::ChipIdReply(const ChipParameters& params) const {
  // An empty socket or a part that does not speak the probed protocol leaves the data
  // line pulled up.
  constexpr std::array<std::uint8_t, 3> kNothing{0xFF, 0xFF, 0xFF};
  const ChipFamily family = FamilyOf(params);
  if (!chip_ || chip_->family() != family) return kNothing;
  switch (family) {
    case ChipFamily::kSpiFlash: {
      const std::uint32_t id = chip_->description().main_id;
      return {static_cast<std::uint8_t>(id >> 16), static_cast<std::uint8_t>(id >> 8),
              static_cast<std::uint8_t>(id)};
    }
    case ChipFamily::kEeprom24:
      return {0x00, 0x00, 0x01};
    case ChipFamily::kEeprom25:
      return {0x00, 0x00, 0x02};
    case ChipFamily::kEeprom93:
      return {0x00, 0x00, 0x03};
    case ChipFamily::kUnknown:
      break;
  }
  return kNothing;
}

std::uint64_t VirtualProgrammer::FillBlockSize(const ChipParameters& params) const {
  // The same block the host merges: sector code k gives 1 KB << k, otherwise the page.
  const unsigned sector = params.sector_size_code;
  if (sector == 0xFF) return 0;
  if (sector != 0) return sector + 10 <= 32 ? std::uint64_t{1} << (sector + 10) : 0;
  const unsigned page = params.page_size_code;
  if (page == 0xFF) return 256;
  if (page > 31) return 0;
  const std::uint64_t s = std::uint64_t{1} << page;
  return params.word_organisation ? s * 2 : s;
}

double VirtualProgrammer::ProgramUsPerByte(ChipFamily family) {
  const VirtualChip* c = ChipFor(family);
  return c ? c->Speed().program_us_per_byte : 0.0;
}

double VirtualProgrammer::ReadUsPerByte(ChipFamily family) {
  const VirtualChip* c = ChipFor(family);
  return c ? c->Speed().read_us_per_byte : 0.0;
}

}  // namespace tarvix::sim
