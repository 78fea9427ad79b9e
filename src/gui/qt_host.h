// SPDX-License-Identifier: GPL-3.0-or-later
// QtHost: the window's Host. The reporting state lives in HostModel; this adds the
// window's side of it. Calls may come from the worker: everything that shows goes to
// the window thread as a queued signal, and questions and window calls block the
// worker until the window thread has answered or run them. Once the window is
// closing, questions are answered at once with their refusing answer (Cancel, No),
// so a worker on its way out never waits for a box nobody will see.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>

#include "device/host_model.h"

class QWidget;

namespace tarvix::gui {

class SoundPlayer;

// The answer a question gets when nobody can be asked: the refusing one.
[[nodiscard]] BoxAnswer RefusingAnswer(BoxButtons buttons);

class QtHost : public QObject, public HostModel {
  Q_OBJECT

 public:
  // Shows a message box and returns the answer (window thread). Tests replace it.
  using BoxPresenter =
      std::function<BoxAnswer(QWidget* parent, const QString& text, const QString& title,
                              BoxIcon icon, BoxButtons buttons)>;
  using SoundSink = std::function<void(const std::filesystem::path& wave)>;

  explicit QtHost(MainState* state = nullptr, QObject* parent = nullptr);
  ~QtHost() override;

  BoxAnswer MessageBox(std::string_view text, std::string_view title, BoxIcon icon,
                       BoxButtons buttons) override;
  void PlaySound(const std::filesystem::path& wave) override;
  void ClearLog() override;
  void WindowCall(const std::function<void()>& call) override;

  // The parent of the boxes (the main window).
  void SetBoxParent(QWidget* parent) { box_parent_ = parent; }
  void SetBoxPresenter(BoxPresenter presenter) { presenter_ = std::move(presenter); }
  void SetSoundSink(SoundSink sink) { sound_sink_ = std::move(sink); }
  // From now on questions get their refusing answer without being shown.
  void SetClosing(bool closing) { closing_.store(closing); }
  [[nodiscard]] bool Closing() const { return closing_.load(); }
  // Boxes shown so far (the window's own and the worker's).
  [[nodiscard]] int BoxesShown() const { return boxes_shown_.load(); }

  // The standard box, as the window shows it.
  static BoxAnswer ShowStandardBox(QWidget* parent, const QString& text, const QString& title,
                                   BoxIcon icon, BoxButtons buttons);

 signals:
  // Queued to the window thread.
  void statusChanged();
  void logLineAdded(const QString& line, bool replaced);
  void logCleared();
  void progressChanged(bool visible, int position, const QString& caption, int align);
  void picturesChanged();
  void commandChanged(int kind, int id);
  void beepRequested();

 protected:
  void Beep() override;
  // The information sound (a finished upgrade): the desktop's bell, as Beep.
  void InformationSound() override;
  void LogLineAdded(const std::string& line, bool replaced) override;
  void ProgressChanged(const ProgressState& progress) override;

 private:
  [[nodiscard]] bool OnWindowThread() const;
  BoxAnswer AskOnWindowThread(const QString& text, const QString& title, BoxIcon icon,
                              BoxButtons buttons);
  void PlayOnWindowThread(const std::filesystem::path& wave);

  QPointer<QWidget> box_parent_;
  BoxPresenter presenter_;
  SoundSink sound_sink_;
  std::unique_ptr<SoundPlayer> player_;
  std::atomic<bool> closing_{false};
  std::atomic<int> boxes_shown_{0};
};

}  // namespace tarvix::gui
