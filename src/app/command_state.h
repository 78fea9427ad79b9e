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

namespace tarvix {

// Control and menu ids shared by buttons and menu items.
namespace control_id {
inline constexpr int kBrowse = 1004;
inline constexpr int kEditModeBox = 1006;
inline constexpr int kAuto = 1019;
inline constexpr int kErase = 1020;
inline constexpr int kWrite = 1021;
inline constexpr int kRead = 1022;
inline constexpr int kVerify = 1023;
inline constexpr int kTest = 1024;
inline constexpr int kBulkMode = 1026;
inline constexpr int kBlank = 1035;
inline constexpr int kEditMode = 32783;
inline constexpr int kSaveAs = 32784;
inline constexpr int kFirmwareVersion = 32788;
inline constexpr int kFileFill = 32801;
inline constexpr int kViewData = 32803;
inline constexpr int kChipFill = 32804;
inline constexpr int kSave = 32806;
inline constexpr int kMoveTo = 32807;
inline constexpr int kFirmwareUpgrade = 32808;
inline constexpr int kFindData = 32810;
inline constexpr int kWriteFromFileAddress = 32815;
}  // namespace control_id

// An operation button's texts.
struct ButtonTexts {
  int id;
  const char* idle_caption;
  const char* busy_caption;  // null: the button has no stop function
  const char* idle_tooltip;
  const char* busy_tooltip;
};

// The buttons of the "operation" group and the browse button, in window order.
[[nodiscard]] const std::vector<ButtonTexts>& OperationButtons();
// Menu items grayed when the window is created.
[[nodiscard]] const std::vector<int>& InitiallyGrayedMenuItems();

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
