// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/sound_player.h"

#include <QUrl>

#ifdef TARVIX_HAVE_QT_MULTIMEDIA
#include <QSoundEffect>
#endif

namespace tarvix::gui {

SoundPlayer::SoundPlayer() = default;
SoundPlayer::~SoundPlayer() = default;

void SoundPlayer::Play(const std::filesystem::path& wave) {
#ifdef TARVIX_HAVE_QT_MULTIMEDIA
  std::error_code ec;
  if (!std::filesystem::is_regular_file(wave, ec)) return;
  auto& effect = effects_[wave.string()];
  if (!effect) {
    effect = std::make_unique<QSoundEffect>();
    effect->setSource(QUrl::fromLocalFile(QString::fromStdString(wave.string())));
  }
  effect->stop();
  effect->play();
#else
  (void)wave;
#endif
}

}  // namespace tarvix::gui
