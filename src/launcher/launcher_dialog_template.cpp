// Template 101 of the launcher dialog, as data: the platform's dialog view lays it out.
#include "launcher/launcher_dialog.h"

#include <iterator>

namespace quarvel {

namespace {

using platform::ControlClass;
namespace style = platform::style;

constexpr uint32_t control = style::child | style::visible;
constexpr int32_t noId = -1;

constexpr platform::DialogControl launcherControls[] = {
    {enterButtonId, ControlClass::button, "Enter", control | style::tabStop | style::defPushButton, 7, 90, 50,
     14},
    {exitButtonId, ControlClass::button, "Exit", control | style::tabStop | style::pushButton, 128, 90, 50,
     14},
    {noId, ControlClass::staticText, "Resolution:", control | style::group | style::textRight, 20, 22, 65,
     10},
    {resolutionListId, ControlClass::comboBox, "",
     control | style::vScroll | style::tabStop | style::dropDownList, 95, 20, 75, 125},
    {noId, ControlClass::staticText, "Fullscreen:", control | style::group | style::textRight, 20, 36, 65,
     10},
    {fullscreenBoxId, ControlClass::button, "", control | style::tabStop | style::autoCheckBox, 95, 36, 9,
     10},
    {noId, ControlClass::staticText, "                Made at Zorvath 2017.",
     control | style::group | style::textLeft, 19, 54, 151, 27},
    {noId, ControlClass::staticText, "Quarvel", control | style::group | style::textCenter, 5, 8, 175, 10},
};

}  // namespace

const platform::DialogTemplate launcherDialogTemplate = {
    101,
    "Tessmor selektor",
    "Tahoma",
    8,
    style::popup | style::caption | style::sysMenu | style::modalFrame | style::setFont | style::center,
    0,
    0,
    186,
    111,
    launcherControls,
    static_cast<int32_t>(std::size(launcherControls)),
};

}  // namespace quarvel
