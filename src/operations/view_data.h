// SPDX-License-Identifier: GPL-3.0-or-later
// View Data: the byte at one address, in the image and on the chip, side by side (a
// 16-bit word for chips organised in words). OK checks the address box and reads the
// image's side at once on the window thread, which also moves the hex view there;
// the chip side (a silent recognition, then command 17 and a 2-byte read) runs on
// the worker as command 17, so the programmer is only ever driven from one thread.
//
// ViewDataDialog is the dialog without its window: the address box, the file data,
// chip data and state texts, and the pending chip read. The program keeps one for its
// whole life, so the worker never writes into a closed dialog.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "buffer/buffer_tools.h"
#include "device/command_packet.h"
#include "device/host.h"
#include "operations/operation_context.h"
#include "state/main_state.h"

namespace tarvix {

class HexPage;

// The worker command of the chip side: the programmer command it sends.
inline constexpr WorkerCommand kViewDataCommand = 17;
inline constexpr int kReadAtTimeoutMs = 100;
inline constexpr int kReadAtReplySize = 2;

namespace view_data_text {
inline constexpr char kNull[] = "null";
inline constexpr char kOverflow[] = "overflow";
inline constexpr char kDfuMode[] = ",device is in dfu mode";
inline constexpr char kUnconnected[] = ",device unconnected";
inline constexpr char kChipOverflow[] = ",chip overflow";
inline constexpr char kChipRead[] = ",chip read succeed";
// The worker is busy with another command (bulk mode, a running operation): the chip
// side is not run rather than fight that command over the programmer.
inline constexpr char kBusy[] = ",device is busy";
inline constexpr char kEnd[] = "...";
inline constexpr char kFinished[] = "finished...";
}  // namespace view_data_text

// What the chip side shows: the chip data text and the part it adds to the state text.
struct ViewDataChip {
  std::string chip_data = view_data_text::kNull;
  std::string state;
};

// The chip side at byte address `address`, after the recognition pre-check gave
// `recognition` (a result code of ChipRecognition): refusals for DFU mode, a missing
// programmer and an address past the chip, else command 17 with the address (100 ms)
// and a 2-byte read (100 ms). The first byte, or both for a 16-bit chip, "%2X" each.
[[nodiscard]] ViewDataChip ReadViewDataChip(OperationContext& ctx, int recognition,
                                            std::uint64_t address, bool word_organised);

// The address the chip side reads, as the window thread took it from the box.
struct ViewDataRequest {
  std::uint64_t address = 0;  // byte address (the box's word address doubled)
  bool word_organised = false;
  std::uint64_t number = 0;  // which OK it answers
};

struct ViewDataTexts {
  std::string file_data = view_data_text::kNull;  // 1042
  std::string chip_data = view_data_text::kNull;  // 1043
  std::string state = view_data_text::kNull;      // 1044
};

class ViewDataDialog {
 public:
  using Listener = std::function<void()>;

  ViewDataDialog() = default;
  ViewDataDialog(const ViewDataDialog&) = delete;
  ViewDataDialog& operator=(const ViewDataDialog&) = delete;

  // The dialog opens: an empty address box and "null" in the three texts. A chip read
  // still pending from the last opening is dropped.
  void Open();

  // Address box 1041 ("Addr(hex):", at most 8 characters).
  [[nodiscard]] std::string AddressText() const;
  void SetAddressText(std::string_view text);
  // A change of the address box: letters in upper case, at most 8 characters, and a
  // character before the caret that is no hexadecimal digit taken back with the box
  // "please input hex data!   ".
  KeystrokeResult EditAddress(std::string_view text, std::size_t caret, Host& host);

  [[nodiscard]] ViewDataTexts Texts() const;
  // OK was pressed and the chip side has not reported yet.
  [[nodiscard]] bool ChipReadPending() const;

  // OK or Enter, on the window thread: the address check ("please input the
  // address!   "), the 16-bit doubling, then the file side (which goes to the
  // address in the hex view). The chip data shows "null" until the chip side reports.
  // Returns what the chip side must read, or nothing when the box was refused.
  std::optional<ViewDataRequest> Ok(ImageBuffer& buffer, HexPage& page, Host& host,
                                    const CommandPacket& packet);
  // The worker takes the pending request (once).
  [[nodiscard]] std::optional<ViewDataRequest> TakeRequest();
  // The chip side's result for `request`: chip data, the state text's ending and
  // "...", and the status line "finished...". A result for an earlier OK than the
  // last one is dropped: the texts already belong to the newer address.
  void FinishChipSide(const ViewDataRequest& request, const ViewDataChip& chip, Host& host);

  // Called on the thread that changed the texts.
  void SetListener(Listener listener);

 private:
  void Notify();

  mutable std::mutex mutex_;
  std::string address_;
  ViewDataTexts texts_;
  std::optional<ViewDataRequest> request_;
  bool pending_ = false;
  std::uint64_t oks_ = 0;
  Listener listener_;
};

// Worker command 17: the recognition pre-check and the chip side of the pending
// request. Does nothing when no request is pending.
void RunViewData(OperationContext& ctx, ViewDataDialog& dialog);

}  // namespace tarvix
