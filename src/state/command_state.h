// SPDX-License-Identifier: GPL-3.0-or-later
// Which commands can be used right now: the enabled state of each main-window
// control, the grayed state of each menu item, and the captions and tooltips of the
// operation buttons (idle, or busy so that a second press stops the operation).
// A control and the menu item of the same id run the same command, so disabling a
// command grays both. The window mirrors this model through the listeners.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "state/captions.h"
#include "state/control_ids.h"

namespace tarvix {

class CommandState {
 public:
  enum class ChangeKind { kEnabled, kMenuGrayed, kCaption };
  struct Change {
    ChangeKind kind;
    int id;
  };
  using Listener = std::function<void(const Change&)>;

  CommandState();

  // A control together with the menu item of the same id.
  void DisableCommand(int id);
  void EnableCommand(int id);
  // Only the menu item (for items without a control).
  void GrayMenuItem(int id);
  void EnableMenuItem(int id);
  // Busy: the stop caption, its tooltip and the shared busy image; idle: the button's
  // own. Ids other than the five stoppable operations are ignored.
  void SetBusyCaption(int id, bool busy);
  // Any caption (the bulk-mode button counts its chips in its caption).
  void SetCaption(int id, const std::string& caption);

  [[nodiscard]] bool IsEnabled(int id) const;
  [[nodiscard]] bool IsMenuGrayed(int id) const;
  [[nodiscard]] std::string Caption(int id) const;
  [[nodiscard]] std::string Tooltip(int id) const;
  // True while the button shows the shared busy image.
  [[nodiscard]] bool IsBusy(int id) const;
  // True while any operation button shows its stop caption (an operation runs).
  [[nodiscard]] bool AnyBusy() const;

  void AddListener(Listener listener);

 private:
  void Notify(const Change& change);

  mutable std::mutex mutex_;  // the worker changes states the window thread reads
  std::set<int> disabled_;
  std::set<int> grayed_;
  std::set<int> busy_;
  std::map<int, std::string> captions_;
  std::map<int, std::string> tooltips_;
  std::vector<Listener> listeners_;
};

}  // namespace tarvix
