// SPDX-License-Identifier: GPL-3.0-or-later
// Everything a chip operation works with. The program owns each piece once; an
// operation gets them together so its signature stays short and tests can build a
// context around the simulated programmer and a RecordingHost.
#pragma once

#include "buffer/byte_sink.h"
#include "buffer/byte_source.h"
#include "buffer/image_buffer.h"
#include "buffer/load_save.h"
#include "catalogue/chip_catalogue.h"
#include "catalogue/chip_selection.h"
#include "device/clock.h"
#include "device/command_packet.h"
#include "device/host.h"
#include "device/usb_link.h"
#include "operations/chip_data_tap.h"
#include "state/main_state.h"
#include "state/setting_checks.h"

namespace tarvix {

class HexPage;

struct OperationContext {
  MainState& state;
  UsbLink& link;
  CommandPacket& packet;
  Host& host;
  const SettingChecks& settings;
  Clock& clock;  // every wait and elapsed time of an operation
  const ChipCatalogue& catalogue;
  ChipSelection& selection;
  ImageBuffer& image;
  FileLoadSave& files;  // a chip read is shown by loading the chip data file
  // The hex view, whose edit mode the operations consult; none in a front end without one.
  HexPage* hex = nullptr;
  // The image write, verify and auto stream, and where a read puts the chip's bytes.
  // Unset, they are the window's own: the working copy, and the chip data file that
  // is then loaded as the image. A front end that keeps to its own files (the command
  // line) sets both.
  const ByteSource* source = nullptr;
  ByteSink* read_sink = nullptr;
  // Sees the chip's data as a read or a verify receives it, and what a verify compares
  // it with (checksums, the difference list); none, nothing watches.
  ChipDataTap* chip_data_tap = nullptr;
};

// The image the chip operations stream: the context's source, else the working copy
// while an image is loaded; null when there is none.
[[nodiscard]] inline const ByteSource* OperationImage(const OperationContext& ctx) {
  if (ctx.source != nullptr) return ctx.source;
  return ctx.image.Loaded() ? &ctx.image : nullptr;
}

// Plays a wave file while "Remind Sound" is checked.
inline void PlayRemindSound(const OperationContext& ctx, const std::filesystem::path& wave) {
  if (ctx.settings.IsOn(SettingItem::kRemindSound)) ctx.host.PlaySound(wave);
}

}  // namespace tarvix
