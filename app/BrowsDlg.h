// TBrowseDialog: picks one folder and returns its path.
//
// Properties in, a Boolean Execute, the result in Directory. Directory on
// entry is the folder preselected when the dialog opens (empty: none); after
// a successful Execute it is the chosen folder, and on cancel it keeps its
// value, so a dialog reused by its owner reopens at the last choice. Root,
// when set, is the folder the browser starts in. OnInitialized (once, when
// the dialog opens) and OnSelectionChanged (each time the selection moves)
// may set a status text, shown when biStatusText is among the options, and
// the state of the OK button.
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <string>

class QWidget;

namespace skyfold {

enum TBrowseOption : std::uint32_t {
  biBrowseForComputer = 0x1000,
  biBrowseForPrinter = 0x2000,
  biDontGoBelowDomain = 0x0002,
  biReturnFSAncestors = 0x0008,
  biReturnOnlyFSDirs = 0x0001,
  biStatusText = 0x0004,
};
using TBrowseOptions = std::uint32_t;  // an OR of TBrowseOption members

enum TOKButtonState : std::uint8_t { obsDefault, obsEnabled, obsDisabled };

class TBrowseDialog;

// Sender, the open browser window, the folder path (no trailing delimiter
// except for the root), and the status text and OK state to apply.
using TBrowseDialogEvent =
    std::function<void(TBrowseDialog& sender, QWidget* wnd, const std::string& path,
                       std::string& showText, TOKButtonState& okButtonState)>;

class TBrowseDialog {
 public:
  explicit TBrowseDialog(QWidget* owner = nullptr) : owner_(owner) {}

  // Shows the folder browser modally; true when a folder was chosen.
  bool Execute();

  std::string Directory;
  std::string Caption;
  std::string Root;
  TBrowseOptions Options = biReturnOnlyFSDirs;
  TBrowseDialogEvent OnInitialized;
  TBrowseDialogEvent OnSelectionChanged;
  // Display name of the folder chosen by the last successful Execute.
  std::string DisplayName;

  // The folder path the browser preselects for Directory: without its
  // trailing delimiter, except for the root itself.
  static std::string PreselectPath(const std::string& directory);

 private:
  QWidget* owner_;
};

}  // namespace skyfold
