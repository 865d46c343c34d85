// Template 101 of the launcher dialog, as data for the platform's dialog view to lay out.
#include "launcher/launcher_dialog_template.h"

#include "launcher/launcher_dialog.h"

#include <iterator>

namespace quarvel {

namespace {

#define STYLE(name) platform::style::name
#define CONTROL(text, id, kind, bits, x, y, cx, cy) \
    {id, platform::ControlClass::kind, text, bits, x, y, cx, cy},
constexpr platform::DialogControl launcherControls[] = {LAUNCHER_CONTROLS(CONTROL, STYLE)};
#undef CONTROL

#define DIALOG(id, x, y, cx, cy, caption, points, font, bits)                     \
    {id, caption, font, points, bits, x, y, cx, cy, launcherControls, \
     static_cast<int32_t>(std::size(launcherControls))}
constexpr platform::DialogTemplate dialog = LAUNCHER_DIALOG(DIALOG, STYLE);
#undef DIALOG
#undef STYLE

}  // namespace

const platform::DialogTemplate launcherDialogTemplate = dialog;

}  // namespace quarvel
