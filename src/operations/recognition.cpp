// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations/recognition.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/command_protocol.h"
#include "device/host_model.h"
#include "device/programmer_identity.h"
#include "state/control_ids.h"

namespace tarvix {
namespace {

enum class Mode { kRecognition, kTest };

// The worker command of the Test button: only a run started by it shows boxes.
constexpr WorkerCommand kTestCommand = 23;

constexpr int kDrainSize = 64;
constexpr int kIdReplySize = 3;
constexpr int kIdTimeoutMs = 5000;
constexpr int kProbeWaitMs = 6;
constexpr int kGroupSettleMs = 60;
constexpr int kLinkEventWaitMs = 50;
constexpr int kRestoreTimeoutMs = 5000;
constexpr int kRestoreWaitMs = 100;
constexpr std::size_t kLastSpiProbe = 4;  // probe 5, after which the SPI answers are judged

struct Probe {
  char group;  // 'A' SPI probes, 'B' EEPROM probes
  bool voltage_flag;
  std::uint8_t byte2;
  std::uint8_t byte3;
};

constexpr std::array<Probe, 11> kProbes{{
    {'A', false, 0x00, 0x00},
    {'A', false, 0x00, 0x20},
    {'A', false, 0x00, 0x60},
    {'A', false, 0x00, 0x70},
    {'A', false, 0x00, 0x80},
    {'B', true, 0x01, 0x00},
    {'B', true, 0x02, 0x00},
    {'B', true, 0x03, 0x00},
    {'B', true, 0x03, 0x10},
    {'B', true, 0x03, 0x01},
    {'B', true, 0x03, 0x11},
}};

// Reserved ID texts the programmer answers instead of a chip's own ID.
constexpr char kId24Eeprom[] = "000001";
constexpr char kId25Eeprom[] = "000002";
constexpr char kId93Eeprom[] = "000003";
constexpr char kIdDfuMode[] = "000004";

constexpr char kFindSpiFlash[] = "find SPI FLASH";
constexpr char kFindSeveral[] =
    "find SPI FLASH,but cannot specify it's type,please select chip type manully!";
constexpr char kFindUnrecognised[] = "find unrecognised SPI FLASH";
constexpr char kNotFindChip[] = "device connected,not find chip!";
constexpr char kDfuMode[] = "device is in dfu mode!";

// Which lookup pass found the chip; the Test box heading depends on it.
enum class Pass { kNone, kMainIdHighByte, kMainIdLowByte, kSecondaryId };

struct Decision {
  Pass pass = Pass::kNone;
  std::uint32_t id = 0;  // the candidate that matched
  std::vector<std::int32_t> matches;
};

class Recogniser {
 public:
  Recogniser(OperationContext& ctx, Mode mode, RecognitionFindings* findings)
      : ctx_(ctx), mode_(mode), findings_(findings) {
    if (findings_ != nullptr) *findings_ = {};
  }

  int Run();

 private:
  [[nodiscard]] bool IsTestCommand() const {
    return mode_ == Mode::kTest && ctx_.state.command_code.load() == kTestCommand;
  }
  void Box(const std::string& text, BoxIcon icon) {
    ctx_.host.MessageBox(text, "info", icon, BoxButtons::kOk);
  }
  void Drain(int timeout_ms) {
    std::array<std::uint8_t, kDrainSize> scratch{};
    (void)ctx_.link.BulkRead(scratch.data(), kDrainSize, timeout_ms);
  }

  // Returns a result code when the link check fails, nothing when the link is open.
  std::optional<int> CheckLink();
  void ReadIdentity();
  // One probe; a result code ends the run.
  std::optional<int> RunProbe(std::size_t index, char& previous_group);
  int SelectFamily(int position, const char* recognition_text, const char* test_text);
  // After probe 5: a result code when the SPI answers decide the run.
  std::optional<int> Evaluate();
  [[nodiscard]] Decision Lookup(const std::vector<std::uint32_t>& candidates) const;
  int Restore(int result);

  void Found(const std::string& id_text, std::vector<std::int32_t> matches = {}) {
    if (findings_ == nullptr) return;
    findings_->id_text = id_text;
    findings_->matches = std::move(matches);
  }

  OperationContext& ctx_;
  Mode mode_;
  RecognitionFindings* findings_;
  std::vector<std::uint32_t> ids_;  // stored in probe order, at most one per probe
};

std::optional<int> Recogniser::CheckLink() {
  const bool beep = mode_ == Mode::kRecognition;
  if (!ctx_.link.IsDevicePresent()) {
    ctx_.host.GrayMenuItem(control_id::kChipFill);
    ctx_.host.ShowStatus("device is unconnected", true, beep);
    if (mode_ == Mode::kTest) Box("device is unconnected     ", BoxIcon::kWarning);
    return kNoProgrammer;
  }
  if (!ctx_.link.OpenSequence()) {
    ctx_.host.GrayMenuItem(control_id::kChipFill);
    ctx_.host.ShowStatus("device cannot open!", true, beep);
    if (mode_ == Mode::kTest) Box("device cannot open!   ", BoxIcon::kWarning);
    return kNoProgrammer;
  }
  return std::nullopt;
}

void Recogniser::ReadIdentity() {
  // A programmer that does not answer keeps whatever picture is shown.
  const auto serial = ReadProgrammerSerial(ctx_.link, ctx_.packet);
  if (serial) ctx_.host.SetPicture(kSecondPictureControl, SecondPictureForSerial(*serial));
}

int Recogniser::Run() {
  if (mode_ == Mode::kRecognition) {
    if (!ctx_.settings.IsOn(SettingItem::kAutoRecognize)) return kRecognisedInCatalogue;
    if (ctx_.state.link_event.load()) ctx_.clock.SleepMs(kLinkEventWaitMs);
  }
  ctx_.state.selection_changed = 0;
  ctx_.state.dfu_mode = 0;
  if (!ctx_.image.Loaded()) ctx_.host.GrayMenuItem(control_id::kViewData);

  // The link check returns before the parameters are touched, so nothing is restored.
  if (const auto refused = CheckLink()) return *refused;

  if (mode_ == Mode::kRecognition && ctx_.state.link_event.load()) ReadIdentity();
  Drain(10);

  char previous_group = 0;
  for (std::size_t i = 0; i < kProbes.size(); ++i) {
    if (const auto result = RunProbe(i, previous_group)) return Restore(*result);
  }
  ctx_.host.ShowStatus(kNotFindChip, true, false);
  if (mode_ == Mode::kTest) Box(std::string(kNotFindChip) + "     ", BoxIcon::kInformation);
  return Restore(kNoChip);
}

std::optional<int> Recogniser::RunProbe(std::size_t index, char& previous_group) {
  const Probe& probe = kProbes[index];
  ctx_.packet.SetProbeHeader(probe.voltage_flag, probe.byte2, probe.byte3);
  Drain(1);

  const int set_timeout = mode_ == Mode::kTest ? 5000 : 100;
  (void)SendCommand(ctx_.link, ctx_.packet, command_code::kSetParameters, set_timeout);
  ctx_.clock.SleepMs(kProbeWaitMs);
  // The programmer needs time to switch its pins between the SPI and EEPROM wirings.
  if (probe.group != previous_group) ctx_.clock.SleepMs(kGroupSettleMs);
  previous_group = probe.group;

  if (!SendCommand(ctx_.link, ctx_.packet, command_code::kReadChipId, kIdTimeoutMs)) {
    ctx_.host.GrayMenuItem(control_id::kChipFill);
    if (mode_ == Mode::kTest) {
      ctx_.host.ShowStatus("device cannot open!", true, false);
      Box("device cannot open!    ", BoxIcon::kWarning);
    } else {
      ctx_.host.ShowStatus("device cannot open", true, false);
    }
    return kNoProgrammer;
  }

  std::array<std::uint8_t, kIdReplySize> reply{};
  const int got = ctx_.link.BulkRead(reply.data(), kIdReplySize, kIdTimeoutMs);
  if (got < 0) {
    ctx_.host.GrayMenuItem(control_id::kChipFill);
    if (mode_ == Mode::kTest) {
      ctx_.host.ShowStatus(kNotFindChip, true, false);
      Box(std::string(kNotFindChip) + "      ", BoxIcon::kInformation);
    } else {
      ctx_.host.ShowStatus("device connected,not find chip", true, false);
    }
    return kNoChip;
  }
  if (got < kIdReplySize) return std::nullopt;

  const std::uint32_t id =
      (std::uint32_t{reply[0]} << 16) | (std::uint32_t{reply[1]} << 8) | reply[2];
  const std::string text = ChipCatalogue::IdText(id);
  if (text == kIdDfuMode || text == kId24Eeprom || text == kId25Eeprom || text == kId93Eeprom)
    Found(text);

  if (text == kIdDfuMode) {
    ctx_.host.ShowStatus(kDfuMode, true, false);
    if (mode_ == Mode::kTest) Box(std::string(kDfuMode) + "      ", BoxIcon::kInformation);
    ctx_.state.dfu_mode = 1;
    return kNoChip;
  }
  if (text == kId24Eeprom)
    return SelectFamily(1, "find 24 EEPROM,please select chip type manully !",
                        "find 24 EEPROM,please select chip type manully !");
  if (text == kId25Eeprom)
    return SelectFamily(2, "find 25 EEPROM,,please select chip type manully!",
                        "find 25 EEPROM,please select chip type manully !");
  if (text == kId93Eeprom)
    return SelectFamily(3, "find 93 EEPROM,please select chip type manully!",
                        "find 93 EEPROM,please select chip type manully !");

  // Floating or unpowered pins answer mostly zeros; such IDs are noise, not chips.
  if (std::count(text.begin(), text.end(), '0') >= 4) return std::nullopt;
  ids_.push_back(id);

  if (index == kLastSpiProbe) return Evaluate();
  return std::nullopt;
}

int Recogniser::SelectFamily(int position, const char* recognition_text, const char* test_text) {
  ctx_.host.GrayMenuItem(control_id::kChipFill);
  // The programmer only tells the family; the user picks the model within it.
  if (ctx_.selection.TypeIndex() != position &&
      position < static_cast<int>(ctx_.selection.Types().size())) {
    ctx_.host.WindowCall([&] { ctx_.selection.ChooseType(static_cast<std::size_t>(position)); });
    ctx_.state.selection_changed = 1;
  }
  ctx_.host.EnableMenuItem(control_id::kChipFill);
  ctx_.host.EnableMenuItem(control_id::kViewData);

  if (mode_ == Mode::kRecognition) {
    ctx_.host.ShowStatus(recognition_text, true, false);
  } else {
    if (IsTestCommand() || ctx_.state.selection_changed.load())
      ctx_.host.ShowStatus(test_text, true, false);
    if (IsTestCommand()) Box(std::string(test_text) + "      ", BoxIcon::kInformation);
  }
  return kRecognisedFamily;
}

Decision Recogniser::Lookup(const std::vector<std::uint32_t>& candidates) const {
  Decision decision;
  for (const std::uint32_t id : candidates) {
    if ((id >> 16) == 0) continue;
    decision.matches = ctx_.catalogue.RecordsByMainId(id);
    if (!decision.matches.empty()) {
      decision.pass = Pass::kMainIdHighByte;
      decision.id = id;
      return decision;
    }
  }
  for (const std::uint32_t id : candidates) {
    if ((id >> 16) != 0) continue;
    decision.matches = ctx_.catalogue.RecordsByMainId(id);
    if (!decision.matches.empty()) {
      decision.pass = Pass::kMainIdLowByte;
      decision.id = id;
      return decision;
    }
  }
  for (const std::uint32_t id : candidates) {
    decision.matches = ctx_.catalogue.RecordsBySecondaryId(id);
    if (!decision.matches.empty()) {
      decision.pass = Pass::kSecondaryId;
      decision.id = id;
      return decision;
    }
  }
  decision.matches.clear();
  return decision;
}

std::optional<int> Recogniser::Evaluate() {
  // Unfilled entries read as 0.
  std::array<std::uint32_t, kProbes.size()> list{};
  std::copy(ids_.begin(), ids_.end(), list.begin());
  // Some probe settings echo the answer of an earlier one; count it once.
  if (list[0] == list[2]) list[2] = 0;
  if (list[1] == list[3]) list[3] = 0;

  std::vector<std::uint32_t> candidates;
  for (std::size_t i = 0; i < ids_.size(); ++i) {
    const std::uint32_t id = list[i];
    if (id != 0x000000 && id != 0x00FFFF && id != 0xFFFFFF) candidates.push_back(id);
  }
  if (candidates.empty()) return std::nullopt;

  const Decision decision = Lookup(candidates);
  Found(ChipCatalogue::IdText(decision.matches.empty() ? candidates.front() : decision.id),
        decision.matches);
  if (decision.matches.empty()) {
    ctx_.host.ShowStatus(kFindUnrecognised, false, false);
    if (IsTestCommand()) Box(std::string(kFindUnrecognised) + "   ", BoxIcon::kInformation);
    return kRecognisedFamily;
  }

  const std::size_t n = decision.matches.size();
  const auto current = ctx_.catalogue.RecordsByName(ctx_.selection.CurrentType(),
                                                    ctx_.selection.CurrentManufacturer(),
                                                    ctx_.selection.CurrentModel());
  const bool keep = !current.empty() && std::find(decision.matches.begin(), decision.matches.end(),
                                                  current.front()) != decision.matches.end();
  if (!keep) {
    ctx_.host.WindowCall([&] { ctx_.selection.SelectRecord(decision.matches.front()); });
    if (n > 1) ctx_.state.selection_changed = 1;
  }
  ctx_.host.EnableMenuItem(control_id::kChipFill);
  ctx_.host.EnableMenuItem(control_id::kViewData);

  if (n == 1) {
    ctx_.host.ShowStatus(kFindSpiFlash, false, false);
    if (IsTestCommand()) {
      const ChipRecord* record = ctx_.selection.CurrentRecord();
      std::string text =
          decision.pass == Pass::kMainIdHighByte ? "find\r\ntype:" : "find:\r\ntype:";
      if (record != nullptr)
        text += record->type + "\r\nfirm:" + record->manufacturer + "\r\nchip:" + record->model;
      else
        text += "\r\nfirm:\r\nchip:";
      text += "          ";
      Box(text, BoxIcon::kInformation);
    }
  } else if (mode_ == Mode::kRecognition) {
    ctx_.host.ShowStatus(kFindSeveral, true, false);
  } else {
    if (IsTestCommand() || ctx_.state.selection_changed.load())
      ctx_.host.ShowStatus(kFindSeveral, true, false);
    if (IsTestCommand()) Box(std::string(kFindSeveral) + "    ", BoxIcon::kInformation);
  }
  return kRecognisedInCatalogue;
}

int Recogniser::Restore(int result) {
  // The probes rewrote the packet's header; the programmer must get the chip back.
  std::uint32_t capacity = 0;
  if (ctx_.packet.LoadChipParameters(ctx_.catalogue, ctx_.state.selected_chip_index.load(),
                                     &capacity))
    ctx_.state.chip_capacity = capacity;
  (void)SendCommand(ctx_.link, ctx_.packet, command_code::kSetParameters, kRestoreTimeoutMs);
  ctx_.clock.SleepMs(kRestoreWaitMs);
  return result;
}

}  // namespace

int ChipRecognition(OperationContext& ctx, bool /*flag*/, RecognitionFindings* findings) {
  return Recogniser(ctx, Mode::kRecognition, findings).Run();
}

int ChipTest(OperationContext& ctx, RecognitionFindings* findings) {
  return Recogniser(ctx, Mode::kTest, findings).Run();
}

}  // namespace tarvix
