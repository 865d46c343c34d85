// The launcher dialog's own logic: which display modes it offers, which one it preselects, and
// what Enter and Exit write into the launch settings. It sees the dialog only through
// platform::DialogControls, so any toolkit can draw it.
#pragma once

#include "launcher/launch_settings.h"
#include "launcher/launcher_dialog_template.h"
#include "platform/platform.h"

#include <cstdint>
#include <span>
#include <string>

namespace quarvel {

inline constexpr int32_t maxOfferedModes = 4096;
inline constexpr int32_t itemTextCapacity = 500;

// controls of the launcher dialog's template
inline constexpr int32_t enterButtonId = LAUNCHER_ENTER_ID;
inline constexpr int32_t exitButtonId = LAUNCHER_EXIT_ID;
inline constexpr int32_t resolutionListId = LAUNCHER_RESOLUTION_LIST_ID;
inline constexpr int32_t fullscreenBoxId = LAUNCHER_FULLSCREEN_BOX_ID;
static_assert(enterButtonId == platform::okId && exitButtonId == platform::cancelId,
              "Return and Escape reach Enter and Exit through the dialog manager's ids");

struct OfferedMode {
    int32_t width = 0;
    int32_t height = 0;
};

// The dialog's module-level record: the dialog procedure has no other way to reach the run's
// settings. `count` and `modes` together are the DisplayModeList; entry i of `modes` is item i of
// the Resolution list, and no entry equals the one right before it.
struct LauncherDialogState {
    LaunchSettings* settings = nullptr;
    int32_t count = 0;
    OfferedMode modes[maxOfferedModes];
};

// Template 101: the dialog's caption, font, size and eight controls in tab order.
extern const platform::DialogTemplate launcherDialogTemplate;

using DisplayModeSource = bool (*)(int32_t index, platform::DisplayMode& mode);

// h == (w * 9) >> 4 in unsigned 32-bit arithmetic: the product wraps and the quotient truncates,
// so 1366 x 768 and 1360 x 765 pass while 1360 x 768 does not.
constexpr bool hasOfferedShape(int32_t width, int32_t height) {
    return static_cast<uint32_t>(height) == (static_cast<uint32_t>(width) * 9u) >> 4;
}

// The control of `dialogTemplate` that takes the focus as the dialog opens: its first tab stop, as
// the classic dialog manager gives it; when that one is among `disabledIds`, the first enabled tab
// stop that is no push button, so that Return presses nothing the viewer did not choose; -1 when
// there is none.
int32_t initialFocus(const platform::DialogTemplate& dialogTemplate, std::span<const int32_t> disabledIds);

// The template's default push button; okId when it has none.
int32_t defaultButton(const platform::DialogTemplate& dialogTemplate);

// The control Return presses: the focused push button (`focusedId`), or else the default button
// when it is enabled, as the classic dialog manager has it; -1 for nothing.
int32_t returnPresses(const platform::DialogTemplate& dialogTemplate, int32_t focusedId, bool defaultEnabled);

// "%d x %d" into `text`, whatever the process locale.
void formatModeItem(const OfferedMode& mode, char (&text)[itemTextCapacity]);

// Builds the mode list from `source`, fills the Resolution list, preselects the preset size, sets
// the Fullscreen box, enables Enter only when an entry is selected, and names the focus and the
// default button. `state.settings` must be set.
void initialiseLauncherDialog(LauncherDialogState& state, DisplayModeSource source,
                              platform::DialogControls& controls);

// Enter writes the chosen size and `windowed` and ends with 1; Exit ends with 0 and writes
// nothing; a change of the Resolution list's selection enables Enter once an entry is chosen;
// other commands do nothing.
void launcherDialogCommand(LauncherDialogState& state, platform::DialogControls& controls, int32_t controlId);

// Return with `focusedId` holding the focus: the command of what returnPresses gives.
void launcherDialogReturn(LauncherDialogState& state, platform::DialogControls& controls, int32_t focusedId);

// The procedure runModalDialog calls: the functions above on the dialog's one record, with the current
// display's modes.
void launcherDialogProcedure(platform::DialogControls& controls, platform::DialogMessage message,
                             int32_t controlId);

enum class LauncherChoice { enter, exit, unavailable };

struct LauncherOutcome {
    LauncherChoice choice = LauncherChoice::unavailable;
    std::string message;  // why the dialog could not be shown
};

// Publishes `settings` to the dialog and runs it modally over the launcher template.
LauncherOutcome runLauncherDialog(LaunchSettings& settings);

}  // namespace quarvel
