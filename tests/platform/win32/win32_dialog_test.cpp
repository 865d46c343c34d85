// The launcher dialog on the win32 backend (Wine on Xvfb in CI): template 101 as linked into the
// program, and the dialog manager running the procedure. In a run the dialog comes before any
// other window, so these cases have a process of their own.
#include "launcher/launcher_dialog.h"
#include "platform/platform.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>
#include <windows.h>

namespace quarvel {
namespace {

// --- resources ---------------------------------------------------------------------------------

// The dialog manager finds template 101 in Hungarian, the language it was written in; what it
// holds comes from the one template header, and the cases below run it.
TEST(Win32ResourceTest, Template101IsAResourceInHungarian) {
    const WORD hungarian = MAKELANGID(LANG_HUNGARIAN, SUBLANG_DEFAULT);
    ASSERT_EQ(hungarian, 1038);
    EXPECT_NE(FindResourceExA(nullptr, RT_DIALOG, MAKEINTRESOURCEA(launcherDialogTemplate.id), hungarian), nullptr);
}

// --- modal dialog ------------------------------------------------------------------------------

// What a dialog procedure saw, for the cases below to look at once the dialog has ended.
struct DialogLog {
    int32_t selectedAtFirst = 0;
    int32_t selectedAfterChoice = 0;
    std::vector<std::string> items;
    bool checkedAtFirst = true;
    bool checkedAfterSet = false;
    bool checkedAfterClear = true;
    std::vector<int32_t> commands;
};
DialogLog dialogLog;

HWND launcherDialogWindow() {
    return FindWindowA("#32770", launcherDialogTemplate.caption);
}

// Fills and reads back the controls, then ends on Exit; Enter ends with 1.
void recordingProcedure(platform::DialogControls& controls, platform::DialogMessage message,
                        int32_t controlId) {
    DialogLog& log = dialogLog;
    if (message == platform::DialogMessage::initialise) {
        log.selectedAtFirst = controls.selectedItem(resolutionListId);
        controls.appendItem(resolutionListId, "1280 x 720");
        controls.appendItem(resolutionListId, "640 x 360");
        controls.selectItem(resolutionListId, 1);
        log.selectedAfterChoice = controls.selectedItem(resolutionListId);
        const HWND dialog = launcherDialogWindow();
        for (int i = 0; i < 2; ++i) {
            char text[64] = {};
            SendDlgItemMessageA(dialog, resolutionListId, CB_GETLBTEXT, static_cast<WPARAM>(i),
                                reinterpret_cast<LPARAM>(text));
            log.items.emplace_back(text);
        }
        log.checkedAtFirst = controls.isChecked(fullscreenBoxId);
        controls.setChecked(fullscreenBoxId, true);
        log.checkedAfterSet = controls.isChecked(fullscreenBoxId);
        controls.setChecked(fullscreenBoxId, false);
        log.checkedAfterClear = controls.isChecked(fullscreenBoxId);
        return;
    }
    log.commands.push_back(controlId);
    if (controlId == exitButtonId) controls.end(0);
    if (controlId == enterButtonId) controls.end(1);
}

// Once the dialog is on screen, does `act` to it from another thread; closes it after ten
// seconds if it is still there, so a lost key fails the case instead of hanging it.
class DialogDriver {
public:
    explicit DialogDriver(std::function<void(HWND)> act)
        : thread_([act] {
              HWND dialog = nullptr;
              for (int i = 0; i < 1000 && (dialog == nullptr || !IsWindowVisible(dialog)); ++i) {
                  Sleep(10);
                  dialog = launcherDialogWindow();
              }
              if (dialog == nullptr) return;
              act(dialog);
              for (int i = 0; i < 1000 && IsWindow(dialog); ++i) Sleep(10);
              if (IsWindow(dialog)) PostMessageA(dialog, WM_CLOSE, 0, 0);
          }) {}
    ~DialogDriver() { thread_.join(); }

private:
    std::thread thread_;
};

void pressKey(WORD key) {
    INPUT input[2] = {};
    for (INPUT& i : input) {
        i.type = INPUT_KEYBOARD;
        i.ki.wVk = key;
        i.ki.wScan = static_cast<WORD>(MapVirtualKeyA(key, MAPVK_VK_TO_VSC));
    }
    input[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, input, sizeof(INPUT));
}

TEST(Win32DialogTest, ControlsAnswerWhatTheProcedureSetAndCommandsArriveById) {
    dialogLog = {};
    platform::DialogResult result;
    {
        // a click on the Fullscreen box reaches the procedure as its id; the close box as Exit's
        DialogDriver driver([](HWND dialog) {
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(fullscreenBoxId, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, fullscreenBoxId)));
            PostMessageA(dialog, WM_CLOSE, 0, 0);
        });
        result = platform::runModalDialog(launcherDialogTemplate, recordingProcedure);
    }
    ASSERT_EQ(result.status, platform::DialogStatus::ended) << result.message;
    EXPECT_EQ(result.result, 0);
    EXPECT_EQ(dialogLog.selectedAtFirst, -1);
    EXPECT_EQ(dialogLog.selectedAfterChoice, 1);
    EXPECT_EQ(dialogLog.items, (std::vector<std::string>{"1280 x 720", "640 x 360"}))
        << "appended, not sorted";
    EXPECT_FALSE(dialogLog.checkedAtFirst);
    EXPECT_TRUE(dialogLog.checkedAfterSet);
    EXPECT_FALSE(dialogLog.checkedAfterClear);
    EXPECT_EQ(dialogLog.commands, (std::vector<int32_t>{fullscreenBoxId, exitButtonId}));
    EXPECT_EQ(launcherDialogWindow(), nullptr) << "the dialog is gone when the call returns";
}

TEST(Win32DialogTest, ReturnPressesEnterAndEscapePressesExit) {
    struct Case {
        const char* name;
        WORD key;
        int32_t command;
        int32_t result;
    };
    const Case cases[] = {{"Return", VK_RETURN, enterButtonId, 1}, {"Escape", VK_ESCAPE, exitButtonId, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dialogLog = {};
        platform::DialogResult result;
        {
            DialogDriver driver([&c](HWND dialog) {
                SetForegroundWindow(dialog);
                pressKey(c.key);
            });
            result = platform::runModalDialog(launcherDialogTemplate, recordingProcedure);
        }
        ASSERT_EQ(result.status, platform::DialogStatus::ended) << result.message;
        EXPECT_EQ(result.result, c.result);
        EXPECT_EQ(dialogLog.commands, (std::vector<int32_t>{c.command}));
    }
}

// Enter disabled until a size is chosen, as the launcher has it on a display without the preset.
void enterOnceChosen(platform::DialogControls& controls, platform::DialogMessage message, int32_t controlId) {
    if (message == platform::DialogMessage::initialise) {
        controls.appendItem(resolutionListId, "1280 x 720");
        controls.appendItem(resolutionListId, "640 x 360");
        controls.enableControl(enterButtonId, false);
        controls.setFocus(resolutionListId);
        return;
    }
    dialogLog.commands.push_back(controlId);
    if (controlId == resolutionListId)
        controls.enableControl(enterButtonId, controls.selectedItem(resolutionListId) >= 0);
    if (controlId == enterButtonId) controls.end(1);
    if (controlId == exitButtonId) controls.end(0);
}

TEST(Win32DialogTest, ADisabledEnterIgnoresReturnUntilAChoiceEnablesIt) {
    dialogLog = {};
    bool enabledAtFirst = true, openAfterReturn = false, enabledAfterChoice = false;
    platform::DialogResult result;
    {
        DialogDriver driver([&](HWND dialog) {
            SetForegroundWindow(dialog);
            const HWND enter = GetDlgItem(dialog, enterButtonId);
            enabledAtFirst = IsWindowEnabled(enter) != FALSE;
            pressKey(VK_RETURN);
            Sleep(500);
            openAfterReturn = IsWindow(dialog) != FALSE;
            // the list has the focus, and Down takes its first item
            pressKey(VK_DOWN);
            for (int i = 0; i < 100 && !IsWindowEnabled(enter); ++i) Sleep(10);
            enabledAfterChoice = IsWindowEnabled(enter) != FALSE;
            pressKey(VK_RETURN);
        });
        result = platform::runModalDialog(launcherDialogTemplate, enterOnceChosen);
    }
    ASSERT_EQ(result.status, platform::DialogStatus::ended) << result.message;
    EXPECT_FALSE(enabledAtFirst);
    EXPECT_TRUE(openAfterReturn) << "Return with Enter disabled ended the dialog";
    EXPECT_TRUE(enabledAfterChoice);
    // the list reports more than the new selection (focus, drop-down, closing); what counts is
    // that the choice came before the one Enter
    const auto& seen = dialogLog.commands;
    const auto enter = std::find(seen.begin(), seen.end(), enterButtonId);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), enterButtonId), 1);
    EXPECT_NE(std::find(seen.begin(), enter, resolutionListId), enter) << "no choice before Enter";
    EXPECT_EQ(std::count(seen.begin(), seen.end(), exitButtonId), 0);
    EXPECT_EQ(result.result, 1);
}

TEST(Win32DialogTest, ATemplateTheProgramDoesNotHoldCannotBeShown) {
    platform::DialogTemplate missing = launcherDialogTemplate;
    missing.id = 4321;
    dialogLog = {};
    const platform::DialogResult result = platform::runModalDialog(missing, recordingProcedure);
    EXPECT_EQ(result.status, platform::DialogStatus::unavailable);
    EXPECT_FALSE(result.message.empty());
    EXPECT_TRUE(dialogLog.commands.empty());
}

}  // namespace
}  // namespace quarvel
