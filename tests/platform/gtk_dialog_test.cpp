// The GTK dialog view against the dialog contract, on an X server: controls as the procedure
// sees them, the template's caption and size, the locale, and no display at all.
#include "platform/platform.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <string>

namespace quarvel::platform {
namespace {

constexpr int32_t listId = 1001;
constexpr int32_t boxId = 1003;

constexpr DialogControl testControls[] = {
    {okId, ControlClass::button, "OK", style::child | style::visible | style::tabStop | style::defPushButton,
     7, 90, 50, 14},
    {cancelId, ControlClass::button, "Cancel", style::child | style::visible | style::tabStop, 128, 90, 50,
     14},
    {listId, ControlClass::comboBox, "", style::child | style::visible | style::tabStop | style::dropDownList,
     95, 20, 75, 125},
    {boxId, ControlClass::button, "", style::child | style::visible | style::tabStop | style::autoCheckBox,
     95, 36, 9, 10},
    {-1, ControlClass::staticText, "  Label", style::child | style::visible | style::textRight, 20, 22, 65,
     10},
};

constexpr DialogTemplate testTemplate = {
    1,
    "View test",
    "Tahoma",
    8,
    style::popup | style::caption | style::center,
    0,
    0,
    186,
    111,
    testControls,
    static_cast<int32_t>(std::size(testControls)),
};

// what a procedure saw, filled in while the dialog initialises
struct Seen {
    int initialised = 0;
    int commands = 0;
    int32_t selectedBefore = 0, selectedAfter = 0, selectedCleared = 0;
    bool checkedBefore = true, checkedAfter = false, checkedCleared = true;
    std::string numericLocale;
    std::string windowTitle;
    int windowWidth = 0, windowHeight = 0;
};
Seen seen;

GtkWidget* dialogWindow() {
    GList* windows = gtk_window_list_toplevels();
    GtkWidget* found = nullptr;
    for (GList* w = windows; w != nullptr; w = w->next)
        if (std::string(gtk_window_get_title(GTK_WINDOW(w->data)) ? gtk_window_get_title(GTK_WINDOW(w->data))
                                                                  : "") == testTemplate.caption)
            found = GTK_WIDGET(w->data);
    g_list_free(windows);
    return found;
}

void exerciseControlsAndEnd(DialogControls& controls, DialogMessage message, int32_t) {
    if (message == DialogMessage::command) {
        ++seen.commands;
        return;
    }
    ++seen.initialised;
    seen.selectedBefore = controls.selectedItem(listId);
    controls.appendItem(listId, "1280 x 720");
    controls.appendItem(listId, "1920 x 1080");
    controls.selectItem(listId, 1);
    seen.selectedAfter = controls.selectedItem(listId);
    controls.selectItem(listId, -1);
    seen.selectedCleared = controls.selectedItem(listId);
    seen.checkedBefore = controls.isChecked(boxId);
    controls.setChecked(boxId, true);
    seen.checkedAfter = controls.isChecked(boxId);
    controls.setChecked(boxId, false);
    seen.checkedCleared = controls.isChecked(boxId);
    seen.numericLocale = std::setlocale(LC_NUMERIC, nullptr);

    if (GtkWidget* window = dialogWindow()) {
        seen.windowTitle = gtk_window_get_title(GTK_WINDOW(window));
        GtkRequisition size;
        gtk_widget_get_preferred_size(window, &size, nullptr);
        seen.windowWidth = size.width;
        seen.windowHeight = size.height;
    }
    controls.end(7);
}

TEST(GtkDialogTest, ProcedureDrivesTheControlsAndItsChangesSendNoCommands) {
    seen = {};
    const DialogResult result = runModalDialog(testTemplate, exerciseControlsAndEnd);
    ASSERT_EQ(result.status, DialogStatus::ended) << result.message;
    EXPECT_EQ(result.result, 7);
    EXPECT_EQ(seen.initialised, 1);
    EXPECT_EQ(seen.commands, 0);
    EXPECT_EQ(seen.selectedBefore, -1);
    EXPECT_EQ(seen.selectedAfter, 1);
    EXPECT_EQ(seen.selectedCleared, -1);
    EXPECT_FALSE(seen.checkedBefore);
    EXPECT_TRUE(seen.checkedAfter);
    EXPECT_FALSE(seen.checkedCleared);
}

TEST(GtkDialogTest, LaysTheTemplateOutInDialogUnitsOfAnEightPointFont) {
    seen = {};
    runModalDialog(testTemplate, exerciseControlsAndEnd);
    EXPECT_EQ(seen.windowTitle, "View test");
    // 186 x 111 units at 1.5 x 1.625 pixels each, on a 96 dpi screen
    EXPECT_EQ(seen.windowWidth, 279);
    EXPECT_EQ(seen.windowHeight, 180);
    EXPECT_EQ(dialogWindow(), nullptr) << "the dialog's window outlived the dialog";
}

TEST(GtkDialogTest, TheProcessKeepsTheCLocaleDuringAndAfterTheDialog) {
    // the test runs with LC_ALL set to a user locale, which GTK would otherwise adopt
    ASSERT_NE(std::getenv("LC_ALL"), nullptr);
    seen = {};
    runModalDialog(testTemplate, exerciseControlsAndEnd);
    EXPECT_EQ(seen.numericLocale, "C");
    EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), "C");
    char text[16];
    std::snprintf(text, sizeof text, "%.2f", 0.5);
    EXPECT_STREQ(text, "0.50");
}

TEST(GtkDialogTest, WithoutADisplayTheDialogIsUnavailableAndTheProcedureNeverRuns) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            unsetenv("DISPLAY");
            unsetenv("WAYLAND_DISPLAY");
            seen = {};
            const DialogResult result = runModalDialog(testTemplate, exerciseControlsAndEnd);
            const bool unavailable = result.status == DialogStatus::unavailable && !result.message.empty();
            std::exit(unavailable && seen.initialised == 0 ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace quarvel::platform
