// The launcher dialog's logic: the offered modes, the preselection, Enter and Exit, Enter enabled
// only while there is a choice to take, and which control has the focus when it opens.
#include "launcher/launcher_dialog.h"

#include <algorithm>
#include <cassert>
#include <cstdio>

namespace quarvel {

namespace {

// module-level: the dialog procedure gets only the controls, so this is how it reaches the run's
// settings while the dialog is up
LauncherDialogState launcherDialog;

bool sameSize(const OfferedMode& a, int32_t width, int32_t height) {
    return a.width == width && a.height == height;
}

bool isOffered(const LauncherDialogState& state, int32_t width, int32_t height) {
    for (int32_t i = 0; i < state.count; ++i)
        if (sameSize(state.modes[i], width, height)) return true;
    return false;
}

void buildDisplayModeList(LauncherDialogState& state, DisplayModeSource source,
                          platform::DialogControls& controls) {
    // a second dialog in the same process starts a fresh list, so entry i stays item i
    state.count = 0;
    platform::DisplayMode mode;
    for (int32_t index = 0; source(index, mode); ++index) {
        if (state.count == maxOfferedModes) break;
        if (!hasOfferedShape(mode.width, mode.height)) continue;
        if (mode.bitsPerPixel != state.settings->bitsPerPixel) continue;
        // only the latest entry is compared: a size seen again later is offered again
        if (state.count > 0 && sameSize(state.modes[state.count - 1], mode.width, mode.height)) continue;

        OfferedMode& entry = state.modes[state.count++];
        entry = {mode.width, mode.height};
        char text[itemTextCapacity];
        formatModeItem(entry, text);
        controls.appendItem(resolutionListId, text);
    }
}

// Enter is there to take the selected entry: without one it would do nothing, with no sign of why.
bool entryChosen(const LauncherDialogState& state, platform::DialogControls& controls) {
    const int32_t selected = controls.selectedItem(resolutionListId);
    return selected >= 0 && selected < state.count;
}

bool enableEnterForSelection(LauncherDialogState& state, platform::DialogControls& controls) {
    const bool enabled = entryChosen(state, controls);
    controls.enableControl(enterButtonId, enabled);
    return enabled;
}

bool isPushButton(const platform::DialogControl& control) {
    return platform::controlKind(control) == platform::ControlKind::pushButton;
}

void enter(LauncherDialogState& state, platform::DialogControls& controls) {
    LaunchSettings& settings = *state.settings;
    const int32_t selected = controls.selectedItem(resolutionListId);
    if (selected >= 0 && selected < state.count) {
        settings.width = state.modes[selected].width;
        settings.height = state.modes[selected].height;
    } else if (!isOffered(state, settings.width, settings.height)) {
        // nothing chosen and the preset size is not one the display offers: wait for a choice
        return;
    }
    settings.windowed = controls.isChecked(fullscreenBoxId) ? 0 : 1;
    controls.end(1);
}

}  // namespace

int32_t initialFocus(const platform::DialogTemplate& dialogTemplate, std::span<const int32_t> disabledIds) {
    const auto enabled = [&](int32_t id) {
        return std::find(disabledIds.begin(), disabledIds.end(), id) == disabledIds.end();
    };
    bool first = true;
    for (int32_t i = 0; i < dialogTemplate.controlCount; ++i) {
        const platform::DialogControl& c = dialogTemplate.controls[i];
        if ((c.style & platform::style::tabStop) == 0) continue;
        if (enabled(c.id) && (first || !isPushButton(c))) return c.id;
        first = false;
    }
    return -1;
}

int32_t defaultButton(const platform::DialogTemplate& dialogTemplate) {
    for (int32_t i = 0; i < dialogTemplate.controlCount; ++i) {
        const platform::DialogControl& c = dialogTemplate.controls[i];
        if (isPushButton(c) && (c.style & platform::style::buttonKindMask) == platform::style::defPushButton)
            return c.id;
    }
    return platform::okId;
}

int32_t returnPresses(const platform::DialogTemplate& dialogTemplate, int32_t focusedId,
                      bool defaultEnabled) {
    for (int32_t i = 0; i < dialogTemplate.controlCount; ++i) {
        const platform::DialogControl& c = dialogTemplate.controls[i];
        if (c.id == focusedId && focusedId != -1 && isPushButton(c)) return c.id;
    }
    return defaultEnabled ? defaultButton(dialogTemplate) : -1;
}

void formatModeItem(const OfferedMode& mode, char (&text)[itemTextCapacity]) {
    // %d never groups digits, so the locale cannot change the text
    std::snprintf(text, sizeof text, "%d x %d", static_cast<int>(mode.width), static_cast<int>(mode.height));
}

void initialiseLauncherDialog(LauncherDialogState& state, DisplayModeSource source,
                              platform::DialogControls& controls) {
    assert(state.settings != nullptr && "the run publishes its settings before the dialog opens");
    buildDisplayModeList(state, source, controls);

    const LaunchSettings& settings = *state.settings;
    // every match selects its item in turn, so the last matching entry ends up selected
    for (int32_t i = 0; i < state.count; ++i)
        if (sameSize(state.modes[i], settings.width, settings.height))
            controls.selectItem(resolutionListId, i);

    if (settings.windowed == 0) controls.setChecked(fullscreenBoxId, true);
    const int32_t enterDisabled[] = {enterButtonId};
    const std::span<const int32_t> disabled = enableEnterForSelection(state, controls)
                                                  ? std::span<const int32_t>{}
                                                  : std::span<const int32_t>{enterDisabled};
    controls.setDefaultButton(defaultButton(launcherDialogTemplate));
    controls.setFocus(initialFocus(launcherDialogTemplate, disabled));
}

void launcherDialogCommand(LauncherDialogState& state, platform::DialogControls& controls,
                           int32_t controlId) {
    assert(state.settings != nullptr);
    if (controlId == enterButtonId) enter(state, controls);
    else if (controlId == exitButtonId) controls.end(0);
    else if (controlId == resolutionListId) enableEnterForSelection(state, controls);
}

void launcherDialogReturn(LauncherDialogState& state, platform::DialogControls& controls, int32_t focusedId) {
    // Enter, the default button, is enabled exactly while an entry is chosen
    const int32_t pressed = returnPresses(launcherDialogTemplate, focusedId, entryChosen(state, controls));
    if (pressed != -1) launcherDialogCommand(state, controls, pressed);
}

void launcherDialogProcedure(platform::DialogControls& controls, platform::DialogMessage message,
                             int32_t controlId) {
    switch (message) {
        case platform::DialogMessage::initialise:
            initialiseLauncherDialog(launcherDialog, platform::displayMode, controls);
            break;
        case platform::DialogMessage::command:
            launcherDialogCommand(launcherDialog, controls, controlId);
            break;
        case platform::DialogMessage::returnKey:
            launcherDialogReturn(launcherDialog, controls, controlId);
            break;
    }
}

LauncherOutcome runLauncherDialog(LaunchSettings& settings) {
    launcherDialog.settings = &settings;
    const platform::DialogResult dialog =
        platform::runModalDialog(launcherDialogTemplate, launcherDialogProcedure);
    launcherDialog.settings = nullptr;
    if (dialog.status != platform::DialogStatus::ended) return {LauncherChoice::unavailable, dialog.message};
    return {dialog.result != 0 ? LauncherChoice::enter : LauncherChoice::exit, {}};
}

}  // namespace quarvel
