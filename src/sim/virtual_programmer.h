// SPDX-License-Identifier: GPL-3.0-or-later
// The programmer's firmware side, in software: what the device does with every
// 20-byte command packet arriving on interrupt endpoint 2, the data on bulk-out
// endpoint 1 and the replies it queues for bulk-in endpoint 0x83, in its normal mode
// and in its firmware-update (DFU) mode with the 4-byte frames. A socket holds zero
// or one VirtualChip.
//
// Transfers reach it through SimBus/SimBackend, which hold the bus lock; the public
// methods (socket, identity, fault knobs, inspection) take that lock themselves and
// may be called from any thread.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "catalogue/operation_type.h"
#include "device/command_packet.h"
#include "sim/sim_timing.h"
#include "sim/virtual_chip.h"

namespace tarvix::sim {

inline constexpr std::uint16_t kProgrammerVendorId = 0x0716;
inline constexpr std::uint16_t kProgrammerProductId = 0x5017;
inline constexpr int kCommandEndpoint = 2;
inline constexpr int kBulkOutEndpoint = 1;
inline constexpr int kBulkInEndpoint = 0x83;

// Reply bytes of this firmware.
inline constexpr std::uint8_t kEndMark = 2;  // write data stored; fill block written
inline constexpr std::uint8_t kEraseDone = 6;
inline constexpr std::uint8_t kChipBlank = 0x0F;
inline constexpr std::uint8_t kChipNotBlank = 0x10;
inline constexpr std::uint8_t kFillBlockSent =
    0x13;  // fill block delivered, ready for the merged one
inline constexpr std::uint8_t kFinishRefused = 0x00;  // firmware image failed its own check

// Which reply a fault hits.
enum class ReplyKind : std::uint8_t {
  kAny,
  kChipId,           // code 7, 3 bytes
  kEraseDone,        // code 5, 1 byte
  kWriteEnd,         // code 2 after a write, 1 byte
  kChipData,         // codes 8 and 13, the chip's contents
  kBlankCheck,       // code 15, 6 bytes
  kReadAt,           // code 17, 2 bytes
  kVersion,          // code 18, 1 byte
  kIdentity,         // code 22, 7 bytes
  kFillBlock,        // code 19, the block's bytes
  kFillBlockStatus,  // code 19, the byte after the block
  kFillEnd,          // code 2 after a fill block, 1 byte
  kDfuHandshake,     // frame 8, 2 bytes
  kDfuStart,         // frame 13, 1 byte
  kDfuErase,         // frame 2, 1 byte
  kDfuReadBack,      // frame 6, 1024 bytes
  kDfuFinish,        // frame 12, 1 byte
};

struct ReplyFault {
  enum class Action : std::uint8_t {
    kDrop,      // the reply never comes
    kReplace,   // `bytes` come instead
    kTruncate,  // only the first `size` bytes come
    kCorrupt,   // the byte at offset `size` comes inverted
    kDelay,     // the reply comes `size` ms later
  };
  ReplyKind kind = ReplyKind::kAny;
  Action action = Action::kDrop;
  std::vector<std::uint8_t> bytes;
  std::uint64_t size = 0;
  int skip = 0;   // matching replies let through untouched first
  int times = 1;  // matching replies hit; negative: every one
};

enum class Pipe : std::uint8_t { kAny, kInterruptOut, kBulkOut, kBulkIn };

struct LinkFault {
  enum class Action : std::uint8_t {
    kTimeOut,  // waits its whole time-out and fails, nothing moves
    kFail,     // fails at once with an I/O error
    kPartial,  // a bulk write takes only `max_bytes`; a bulk read delivers at most that
  };
  Pipe pipe = Pipe::kAny;
  Action action = Action::kTimeOut;
  int max_bytes = 0;
  int skip = 0;
  int times = 1;  // negative: every matching transfer
};

struct ProgrammerConfig {
  std::uint32_t serial = 123456;         // 24 bits
  std::uint8_t firmware_version = 0x12;  // shows as V2.2
  bool dfu_mode = false;                 // powers up in its update mode
  std::size_t firmware_area = 512 * 1024;
};

class VirtualProgrammer {
 public:
  VirtualProgrammer(const VirtualProgrammer&) = delete;
  VirtualProgrammer& operator=(const VirtualProgrammer&) = delete;

  // --- Socket ---
  // Puts `chip` in the socket (nullptr empties it) and returns what was there.
  std::unique_ptr<VirtualChip> SwapChip(std::unique_ptr<VirtualChip> chip);
  void InsertChip(std::unique_ptr<VirtualChip> chip) { SwapChip(std::move(chip)); }
  std::unique_ptr<VirtualChip> RemoveChip() { return SwapChip(nullptr); }
  // The chip in the socket; look at it only while no transfer runs.
  [[nodiscard]] VirtualChip* chip();

  // --- Identity and firmware ---
  [[nodiscard]] std::uint32_t serial() const;
  void SetSerial(std::uint32_t serial);
  [[nodiscard]] std::uint8_t firmware_version() const;
  void SetFirmwareVersion(std::uint8_t version);
  [[nodiscard]] bool InDfuMode() const;
  // Stores a firmware image as if it had been upgraded and accepted.
  void SetFirmwareImage(const std::vector<std::uint8_t>& image);
  // The stored image, as long as the last transfer (or SetFirmwareImage) made it.
  [[nodiscard]] std::vector<std::uint8_t> FirmwareImage() const;
  // False after an erase until a finished upgrade; a replug then stays in DFU mode.
  [[nodiscard]] bool FirmwareValid() const;

  // --- What the host did ---
  // Parameters of the last code 0 (nothing at power-up and after code 25).
  [[nodiscard]] std::optional<ChipParameters> StoredParameters() const;
  [[nodiscard]] std::uint64_t CommandCount(std::uint8_t code) const;
  // Commands of any code since power-up.
  [[nodiscard]] std::uint64_t CommandTotal() const;
  [[nodiscard]] std::uint64_t FrameCount(std::uint8_t code) const;
  [[nodiscard]] std::uint64_t PendingReplyBytes() const;

  // --- Fault knobs ---
  void AddReplyFault(ReplyFault fault);
  void DropReply(ReplyKind kind, int times = 1);
  void ReplaceReply(ReplyKind kind, std::vector<std::uint8_t> bytes, int times = 1);
  void TruncateReply(ReplyKind kind, std::uint64_t kept_bytes, int times = 1);
  void CorruptReply(ReplyKind kind, std::uint64_t offset, int times = 1);
  void DelayReply(ReplyKind kind, std::int64_t ms, int times = 1);
  // The firmware read-back differs from what was written (byte `offset` of the image).
  void WrongFirmwareReadBack(std::uint64_t offset = 0);
  void AddLinkFault(LinkFault fault);
  void TimeOutNextTransfer(Pipe pipe = Pipe::kAny) {
    AddLinkFault({pipe, LinkFault::Action::kTimeOut});
  }
  // The next `times` bulk writes take only `max_bytes` each.
  void AcceptPartialBulkWrites(int max_bytes, int times = 1);
  // After `bytes` more bytes in either direction the link breaks: every transfer
  // fails with an I/O error until the programmer is replugged.
  void FailLinkAfterBytes(std::uint64_t bytes);
  void RefuseOpen(bool refuse);
  void RefuseConfiguration(bool refuse);
  void RefuseInterface(bool refuse);
  // Bytes waiting on bulk-in, as left over from before the host opened the device.
  void QueueStaleBytes(std::vector<std::uint8_t> bytes);
  // After code 21 the programmer leaves the bus and does not come back until replugged.
  void FailReenumeration(bool fail);
  // Removes every fault knob and mends a broken link.
  void ClearFaults();

 private:
  friend class SimBus;
  friend class SimBackend;

  enum class Activity : std::uint8_t { kIdle, kWriting, kFillReceiving };

  struct Reply {
    ReplyKind kind = ReplyKind::kAny;
    std::vector<std::uint8_t> bytes;
    bool stream = false;  // chip contents read as they are delivered
    ChipFamily family = ChipFamily::kUnknown;
    std::uint64_t address = 0;
    std::uint64_t length = 0;
    std::uint64_t delivered = 0;
    std::optional<std::uint64_t> corrupt_at;
    std::int64_t ready_at_ms = 0;
    double us_per_byte = 0;
  };

  // When and how a transfer happens.
  struct Now {
    std::int64_t ms = 0;
    bool realistic = false;
  };
  struct Outcome {
    int result = 0;
    std::int64_t cost_us = 0;  // time the transfer takes, waits included
  };

  VirtualProgrammer(std::mutex& bus_mutex, const ProgrammerConfig& config);

  // Transfer side; the bus lock is held.
  Outcome OnInterruptWrite(int endpoint, const std::uint8_t* data, int size, int timeout_ms,
                           const Now& now);
  Outcome OnBulkWrite(int endpoint, const std::uint8_t* data, int size, int timeout_ms,
                      const Now& now);
  Outcome OnBulkRead(int endpoint, std::uint8_t* data, int size, int timeout_ms, const Now& now);
  // Power-up after a replug or a re-enumeration: state cleared, mode from the firmware.
  void PowerUp(bool dfu);
  bool TakeReenumerationRequest();

  std::optional<Outcome> ApplyLinkFault(Pipe pipe, int& size, int timeout_ms);
  bool SpendLinkBudget(std::uint64_t bytes);

  void HandlePacket(const std::uint8_t* packet, const Now& now);
  void HandleDfuPacket(const std::uint8_t* packet, const Now& now);
  void HandleFrame(std::uint8_t code, std::uint8_t value, const Now& now);
  void Abort();

  void QueueReply(Reply reply);
  void QueueBytes(ReplyKind kind, std::vector<std::uint8_t> bytes, std::int64_t ready_at_ms);
  void QueueStream(ReplyKind kind, ChipFamily family, std::uint64_t address, std::uint64_t length,
                   std::int64_t ready_at_ms, const Now& now);

  // The chip, when it speaks the protocol of `family`; otherwise the programmer gets
  // no sensible answer from the socket (reads 0xFF, writes go nowhere).
  VirtualChip* ChipFor(ChipFamily family);
  std::array<std::uint8_t, 3> ChipIdReply(const ChipParameters& params) const;
  std::uint64_t FillBlockSize(const ChipParameters& params) const;
  double ProgramUsPerByte(ChipFamily family);
  double ReadUsPerByte(ChipFamily family);

  std::mutex& mutex_;
  ProgrammerConfig config_;
  std::unique_ptr<VirtualChip> chip_;
  bool dfu_ = false;

  // Command state.
  std::optional<ChipParameters> stored_;
  ChipParameters current_;
  Activity activity_ = Activity::kIdle;
  std::uint64_t write_position_ = 0;
  std::uint64_t write_limit_ = 0;
  ChipFamily write_family_ = ChipFamily::kUnknown;
  bool write_words_ = false;
  std::optional<std::uint8_t> half_word_;
  std::uint64_t fill_address_ = 0;
  ChipFamily fill_family_ = ChipFamily::kUnknown;
  std::vector<std::uint8_t> fill_staging_;
  std::uint64_t fill_received_ = 0;
  std::deque<Reply> replies_;
  std::map<std::uint8_t, std::uint64_t> command_counts_;
  std::uint64_t command_total_ = 0;
  std::map<std::uint8_t, std::uint64_t> frame_counts_;
  bool reenumeration_requested_ = false;

  // Firmware area and the update exchange.
  std::vector<std::uint8_t> firmware_;
  std::uint64_t firmware_length_ = 0;
  bool firmware_valid_ = true;
  bool dfu_receiving_ = false;
  std::uint64_t dfu_write_position_ = 0;
  std::uint64_t dfu_read_position_ = 0;
  std::uint64_t dfu_erase_count_ = 0;
  bool dfu_finish_ok_ = false;

  // Faults.
  std::vector<ReplyFault> reply_faults_;
  std::vector<LinkFault> link_faults_;
  std::optional<std::uint64_t> link_budget_;
  bool link_broken_ = false;
  bool refuse_open_ = false;
  bool refuse_configuration_ = false;
  bool refuse_interface_ = false;
  bool fail_reenumeration_ = false;
};

}  // namespace tarvix::sim
