// The launcher dialog's logic with a scripted mode enumeration and a view that records what the
// dialog does to its controls, and its place in the run over the scripted platform.
#include "launcher/launcher_dialog.h"

#include "fake_platform.h"
#include "launcher/run_sequence.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarvel {
namespace {

using platform::DisplayMode;

std::vector<DisplayMode> enumerated;  // what the display reports, in its order
int enumerationCalls = 0;

bool scriptedModes(int32_t index, DisplayMode& mode) {
    ++enumerationCalls;
    if (index < 0 || static_cast<std::size_t>(index) >= enumerated.size()) return false;
    mode = enumerated[static_cast<std::size_t>(index)];
    return true;
}

// The dialog's controls as the viewer would see them.
class RecordingControls final : public platform::DialogControls {
public:
    void appendItem(int32_t controlId, const char* text) override {
        EXPECT_EQ(controlId, resolutionListId);
        items.emplace_back(text);
    }
    void selectItem(int32_t controlId, int32_t index) override {
        EXPECT_EQ(controlId, resolutionListId);
        ASSERT_GE(index, 0);
        ASSERT_LT(index, static_cast<int32_t>(items.size())) << "selected an item the list does not have";
        selected = index;
    }
    int32_t selectedItem(int32_t controlId) override {
        EXPECT_EQ(controlId, resolutionListId);
        return selected;
    }
    void setChecked(int32_t controlId, bool value) override {
        EXPECT_EQ(controlId, fullscreenBoxId);
        checked = value;
    }
    bool isChecked(int32_t controlId) override {
        EXPECT_EQ(controlId, fullscreenBoxId);
        return checked;
    }
    void enableControl(int32_t controlId, bool enabled) override {
        EXPECT_EQ(controlId, enterButtonId);
        enterEnabled = enabled;
    }
    void setFocus(int32_t controlId) override { focused = controlId; }
    void setDefaultButton(int32_t controlId) override { defaultId = controlId; }
    void end(int32_t value) override {
        EXPECT_FALSE(ended) << "ended twice";
        ended = true;
        result = value;
    }

    std::vector<std::string> items;
    int32_t selected = -1;
    bool checked = false;  // the template's state
    bool enterEnabled = true;
    int32_t focused = 0;    // none named
    int32_t defaultId = 0;  // none named
    bool ended = false;
    int32_t result = -1;
};

bool operator==(const LaunchSettings& a, const LaunchSettings& b) {
    return a.width == b.width && a.height == b.height && a.bitsPerPixel == b.bitsPerPixel &&
           a.windowed == b.windowed;
}

// One open dialog over `modes` with `settings` under edit.
struct OpenDialog {
    explicit OpenDialog(std::vector<DisplayMode> modes, LaunchSettings preset = {}) : settings(preset) {
        enumerated = std::move(modes);
        enumerationCalls = 0;
        state.settings = &settings;
        initialiseLauncherDialog(state, scriptedModes, controls);
    }
    void command(int32_t id) { launcherDialogCommand(state, controls, id); }

    LaunchSettings settings;
    RecordingControls controls;
    LauncherDialogState state;
};

TEST(LauncherDialogTest, OffersOnlySizesWhoseHeightIsNineSixteenthsOfTheWidthInUnsigned32Bits) {
    struct Case {
        int32_t width, height;
        bool offered;
    };
    const Case cases[] = {
        {1920, 1080, true},
        {1366, 768, true},   // 12294 >> 4 = 768
        {1367, 768, true},   // 12303 >> 4 = 768: the quotient truncates
        {1368, 768, false},  // 12312 >> 4 = 769
        {1360, 768, false},  // 765
        {1360, 765, true},
        {1280, 800, false},   // 720
        {1680, 1050, false},  // 945
        {1280, 720, true},
        // 477219954 * 9 wraps past 2^32 to 12290, and 12290 >> 4 = 768
        {477219954, 768, true},
        {477219954, 268437474, false},  // what the product would give without the wrap
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        OpenDialog dialog({{c.width, c.height, 32}});
        EXPECT_EQ(dialog.state.count, c.offered ? 1 : 0);
        EXPECT_EQ(dialog.controls.items.size(), c.offered ? 1u : 0u);
    }
}

TEST(LauncherDialogTest, OffersOnlyModesOfTheRequiredColourDepth) {
    const std::vector<DisplayMode> modes = {
        {1920, 1080, 16}, {1280, 720, 32}, {1600, 900, 24}, {1920, 1080, 32}};
    OpenDialog at32(modes);
    EXPECT_EQ(at32.controls.items, (std::vector<std::string>{"1280 x 720", "1920 x 1080"}));
    EXPECT_EQ(at32.controls.selected, 1);

    LaunchSettings sixteen;
    sixteen.bitsPerPixel = 16;
    OpenDialog at16(modes, sixteen);
    EXPECT_EQ(at16.controls.items, (std::vector<std::string>{"1920 x 1080"}));
    EXPECT_EQ(at16.settings.bitsPerPixel, 16);
}

TEST(LauncherDialogTest, CollapsesRepeatsInARowButOffersASizeAgainAfterAnotherAndPreselectsTheLast) {
    // displays list a size once per refresh rate, one after the other
    OpenDialog dialog({{1920, 1080, 32},
                       {1920, 1080, 32},
                       {1920, 1080, 32},
                       {1280, 720, 32},
                       {1280, 720, 16},
                       {1920, 1080, 32},
                       {1280, 720, 32}});
    EXPECT_EQ(dialog.controls.items,
              (std::vector<std::string>{"1920 x 1080", "1280 x 720", "1920 x 1080", "1280 x 720"}));
    EXPECT_EQ(dialog.controls.selected, 2);
    for (int32_t i = 0; i < dialog.state.count; ++i) {
        char text[itemTextCapacity];
        formatModeItem(dialog.state.modes[i], text);
        EXPECT_EQ(dialog.controls.items[static_cast<std::size_t>(i)], text)
            << "entry " << i << " is not item " << i;
    }
}

TEST(LauncherDialogTest, OffersTheFirst4096QualifyingModesInTheDisplaysOrder) {
    // sizes alternate so that none repeats the one before it; the preset comes only after the cap
    std::vector<DisplayMode> modes;
    for (int i = 0; i < 5000; ++i)
        modes.push_back(i % 2 == 0 ? DisplayMode{1280, 720, 32} : DisplayMode{1600, 900, 32});
    modes.push_back({1920, 1080, 32});
    OpenDialog dialog(modes);
    EXPECT_EQ(dialog.state.count, maxOfferedModes);
    ASSERT_EQ(dialog.controls.items.size(), static_cast<std::size_t>(maxOfferedModes));
    EXPECT_EQ(dialog.controls.items.front(), "1280 x 720");
    EXPECT_EQ(dialog.controls.items.back(), "1600 x 900");
    EXPECT_EQ(dialog.controls.selected, -1);
    EXPECT_LE(enumerationCalls, maxOfferedModes + 1) << "kept asking the display after the list was full";
}

TEST(LauncherDialogTest, FullscreenBoxStartsCheckedOnlyWhenTheSettingsAreNotWindowed) {
    OpenDialog fullscreen({{1920, 1080, 32}});
    EXPECT_TRUE(fullscreen.controls.checked);

    LaunchSettings windowed;
    windowed.windowed = 1;
    OpenDialog inAWindow({{1920, 1080, 32}}, windowed);
    EXPECT_FALSE(inAWindow.controls.checked);
}

TEST(LauncherDialogTest, EnterWritesTheSelectedSizeAndWindowedFromTheBox) {
    struct Case {
        const char* name;
        int32_t select;  // -1: keep the preselection
        bool checked;
        int32_t width, height, windowed;
    };
    const Case cases[] = {
        {"defaults unchanged", -1, true, 1920, 1080, 0},
        {"another size, fullscreen", 0, true, 1280, 720, 0},
        {"another size, box unchecked", 0, false, 1280, 720, 1},
        {"preset size, box unchecked", -1, false, 1920, 1080, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OpenDialog dialog({{1280, 720, 32}, {1920, 1080, 32}});
        if (c.select >= 0) dialog.controls.selected = c.select;
        dialog.controls.checked = c.checked;
        dialog.command(enterButtonId);
        EXPECT_TRUE(dialog.controls.ended);
        EXPECT_EQ(dialog.controls.result, 1);
        EXPECT_EQ(dialog.settings.width, c.width);
        EXPECT_EQ(dialog.settings.height, c.height);
        EXPECT_EQ(dialog.settings.windowed, c.windowed);
        EXPECT_EQ(dialog.settings.bitsPerPixel, 32);
    }
}

TEST(LauncherDialogTest, EnterWithoutASelectionKeepsThePresetOnlyWhenTheDisplayOffersIt) {
    struct Case {
        const char* name;
        std::vector<DisplayMode> modes;
        int32_t selection;  // what the list reports
        bool ends;
    };
    const Case cases[] = {
        {"preset offered", {{1920, 1080, 32}}, -1, true},
        {"preset not offered", {{1280, 720, 32}}, -1, false},
        {"empty list", {}, -1, false},
        {"list reports an item past the entries", {{1280, 720, 32}}, 5, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OpenDialog dialog(c.modes);
        dialog.controls.selected = c.selection;
        dialog.controls.checked = false;
        const LaunchSettings before = dialog.settings;
        dialog.command(enterButtonId);
        EXPECT_EQ(dialog.controls.ended, c.ends);
        if (c.ends) {
            EXPECT_EQ(dialog.settings.width, 1920);
            EXPECT_EQ(dialog.settings.height, 1080);
            EXPECT_EQ(dialog.settings.windowed, 1);
        } else {
            EXPECT_TRUE(dialog.settings == before) << "Enter with nothing to take changed the settings";
        }
    }

    // once an entry is chosen, Enter goes through
    OpenDialog dialog({{1280, 720, 32}});
    dialog.command(enterButtonId);
    dialog.controls.selected = 0;
    dialog.command(enterButtonId);
    EXPECT_EQ(dialog.controls.result, 1);
    EXPECT_EQ(dialog.settings.width, 1280);
}

TEST(LauncherDialogTest, EnterIsEnabledOnlyWhileTheListHasASelection) {
    struct Case {
        const char* name;
        std::vector<DisplayMode> modes;
        bool enabledAtOpen;
    };
    const Case cases[] = {
        {"preset offered and preselected", {{1280, 720, 32}, {1920, 1080, 32}}, true},
        {"a laptop without the preset", {{1366, 768, 32}, {1280, 720, 32}}, false},
        {"a monitor without the preset", {{2560, 1440, 32}}, false},
        {"nothing to offer", {{1280, 1024, 32}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OpenDialog dialog(c.modes);
        EXPECT_EQ(dialog.controls.enterEnabled, c.enabledAtOpen);
        // a disabled Enter passes the focus over Exit to the list, so Return presses nothing
        EXPECT_EQ(dialog.controls.focused, c.enabledAtOpen ? enterButtonId : resolutionListId);
        EXPECT_EQ(dialog.controls.defaultId, enterButtonId);
        if (dialog.state.count == 0) continue;
        // the viewer picks the first entry, and the list reports it
        dialog.controls.selected = 0;
        dialog.command(resolutionListId);
        EXPECT_TRUE(dialog.controls.enterEnabled);
        EXPECT_FALSE(dialog.controls.ended) << "choosing an entry is no Enter";
    }
}

TEST(LauncherDialogTest, ExitEndsWithZeroAndLeavesTheSettingsAsTheyWere) {
    OpenDialog dialog({{1280, 720, 32}, {1920, 1080, 32}});
    const LaunchSettings before = dialog.settings;
    dialog.controls.selected = 0;
    dialog.controls.checked = false;
    dialog.command(fullscreenBoxId);  // the box's own clicks are no command to the dialog
    dialog.command(resolutionListId);
    EXPECT_FALSE(dialog.controls.ended);
    dialog.command(exitButtonId);  // the view sends this for Escape and the close button too
    EXPECT_TRUE(dialog.controls.ended);
    EXPECT_EQ(dialog.controls.result, 0);
    EXPECT_TRUE(dialog.settings == before);
}

TEST(LauncherDialogTest, ASecondDialogOffersAFreshList) {
    OpenDialog dialog({{1280, 720, 32}, {1920, 1080, 32}});
    RecordingControls second;
    initialiseLauncherDialog(dialog.state, scriptedModes, second);
    EXPECT_EQ(dialog.state.count, 2);
    EXPECT_EQ(second.items.size(), 2u);
    EXPECT_EQ(second.selected, 1);
}

TEST(LauncherDialogTest, TemplateControlsLieInsideTheDialogAndEnterIsTheDefaultButton) {
    const platform::DialogTemplate& t = launcherDialogTemplate;
    ASSERT_EQ(t.controlCount, 8);
    int defaults = 0;
    for (int32_t i = 0; i < t.controlCount; ++i) {
        const platform::DialogControl& c = t.controls[i];
        SCOPED_TRACE(c.text);
        EXPECT_LE(c.x + c.cx, t.cx);
        // a drop-down list's height counts its open list, which may hang below the dialog
        if (c.controlClass != platform::ControlClass::comboBox) {
            EXPECT_LE(c.y + c.cy, t.cy);
        }
        if (c.controlClass == platform::ControlClass::button &&
            (c.style & platform::style::buttonKindMask) == platform::style::defPushButton) {
            ++defaults;
            EXPECT_EQ(c.id, enterButtonId);
        }
    }
    EXPECT_EQ(defaults, 1);
    EXPECT_EQ(defaultButton(t), enterButtonId);
}

TEST(LauncherDialogTest, TheFocusGoesToTheFirstTabStopOrElseTheFirstEnabledOneThatIsNoPushButton) {
    const struct {
        std::vector<int32_t> disabled;
        int32_t focus;
    } cases[] = {
        {{}, enterButtonId},
        {{exitButtonId}, enterButtonId},
        {{enterButtonId}, resolutionListId},
        {{enterButtonId, resolutionListId}, fullscreenBoxId},
        {{enterButtonId, resolutionListId, fullscreenBoxId}, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.disabled));
        EXPECT_EQ(initialFocus(launcherDialogTemplate, c.disabled), c.focus);
    }
}

// Return presses the focused push button, or else the default Enter while it is enabled, which it
// is exactly while a size is chosen; the views send Return here and press nothing themselves.
TEST(LauncherDialogTest, ReturnPressesTheFocusedPushButtonOrElseEnterWhileASizeIsChosen) {
    const platform::DialogTemplate& t = launcherDialogTemplate;
    EXPECT_EQ(returnPresses(t, exitButtonId, false), exitButtonId);
    EXPECT_EQ(returnPresses(t, enterButtonId, true), enterButtonId);
    EXPECT_EQ(returnPresses(t, fullscreenBoxId, true), enterButtonId) << "a check box is no push button";
    EXPECT_EQ(returnPresses(t, resolutionListId, false), -1);
    EXPECT_EQ(returnPresses(t, -1, false), -1);

    OpenDialog unchosen({{1366, 768, 32}});  // no preset: nothing chosen, Enter disabled
    launcherDialogReturn(unchosen.state, unchosen.controls, resolutionListId);
    EXPECT_FALSE(unchosen.controls.ended) << "Return pressed the disabled Enter";
    unchosen.controls.selected = 0;
    launcherDialogReturn(unchosen.state, unchosen.controls, resolutionListId);
    EXPECT_TRUE(unchosen.controls.ended);
    EXPECT_EQ(unchosen.controls.result, 1);

    OpenDialog onExit({{1920, 1080, 32}});
    launcherDialogReturn(onExit.state, onExit.controls, exitButtonId);
    EXPECT_EQ(onExit.controls.result, 0);
}

// --- the dialog in the run ------------------------------------------------------------------

TEST(LauncherInTheRunTest, ExitEndsTheRunWithZeroBeforeAnyWindow) {
    fake::PlatformScript script;
    script.dialogCommands = {platform::cancelId};
    fake::reset(script);
    EXPECT_EQ(runDemo(), exitSuccess);
    EXPECT_EQ(fake::record().calls, std::vector<std::string>{"dialog"});
}

TEST(LauncherInTheRunTest, ADialogThatCannotBeShownFailsWithoutRunning) {
    fake::PlatformScript script;
    script.dialogAvailable = false;
    fake::reset(script);
    testing::internal::CaptureStderr();
    EXPECT_EQ(runDemo(), exitFailure);
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("launcher dialog cannot be shown"), std::string::npos) << errors;
    EXPECT_EQ(fake::record().calls, std::vector<std::string>{"dialog"});
}

TEST(LauncherInTheRunTest, AStopSignalClosesTheDialogAndEndsTheRunWith128PlusItsNumber) {
    for (const int signal : {2, 15, 1}) {  // SIGINT, SIGTERM, SIGHUP
        SCOPED_TRACE(signal);
        fake::PlatformScript script;
        script.stopSignal = [signal](int) { return signal; };
        fake::reset(script);
        EXPECT_EQ(runDemo(), 128 + signal);
        EXPECT_EQ(fake::record().calls, std::vector<std::string>{"dialog"}) << "no window after the stop";
    }
}

TEST(LauncherInTheRunTest, ReturnDoesNothingUntilAnEntryIsChosen) {
    fake::PlatformScript script;
    script.displayModes = {{1366, 768, 32}, {1280, 720, 32}};
    fake::reset(script);
    EXPECT_EQ(runDemo(), exitSuccess);
    EXPECT_EQ(fake::record().calls, (std::vector<std::string>{"dialog", "dialog still open"}));

    script.chooseItem = 1;
    script.escape = [](int) { return true; };
    fake::reset(script);
    EXPECT_EQ(runDemo(), exitSuccess);
    EXPECT_EQ(fake::record().surfaceWidth, 1280);
}

TEST(LauncherInTheRunTest, TheChosenSizeAndTheBoxReachTheWindow) {
    fake::PlatformScript script;
    script.displayModes = {{1280, 720, 32}, {1920, 1080, 32}, {1366, 768, 32}};
    script.chooseItem = 2;
    script.fullscreenBox = 0;
    script.escape = [](int) { return true; };
    fake::reset(script);
    EXPECT_EQ(runDemo(), exitSuccess);
    EXPECT_EQ(fake::record().dialogItems,
              (std::vector<std::string>{"1280 x 720", "1920 x 1080", "1366 x 768"}));
    EXPECT_EQ(fake::record().surfaceWidth, 1366);
    EXPECT_EQ(fake::record().surfaceHeight, 768);
    EXPECT_TRUE(fake::record().surfaceWindowed);
}

}  // namespace
}  // namespace quarvel
