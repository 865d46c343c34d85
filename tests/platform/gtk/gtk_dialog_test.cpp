// The GTK dialog view against the dialog contract, on an X server: controls as the procedure
// sees them, the template's caption and size, the locale, and no display at all.
#include "platform/platform.h"

#include <clocale>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <string>
#include <vector>

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

// --- the dialog at work: keys, stop signals and scales, from inside its own loop ----------------

// The widgets of the open dialog, in template order.
std::vector<GtkWidget*> controlWidgets() {
    std::vector<GtkWidget*> widgets;
    if (GtkWidget* window = dialogWindow()) {
        GList* children = gtk_container_get_children(GTK_CONTAINER(gtk_bin_get_child(GTK_BIN(window))));
        for (GList* c = children; c != nullptr; c = c->next) widgets.push_back(GTK_WIDGET(c->data));
        g_list_free(children);
    }
    return widgets;
}

// One run of the dialog with `action` done from its own loop once its window is on the screen and
// laid out; what comes next is driven by what the procedure receives. A dialog still open after
// 20 s is closed, and the run says so.
struct DialogRun {
    DialogResult result;
    bool closedByLimit = false;
};
std::function<void()> action;
bool closedByLimit = false;

gboolean actOnceShown(gpointer) {
    GtkWidget* window = dialogWindow();
    const std::vector<GtkWidget*> widgets = controlWidgets();
    if (window == nullptr || !gtk_widget_get_mapped(window) || widgets.empty() ||
        gtk_widget_get_allocated_width(widgets.back()) <= 1)
        return G_SOURCE_CONTINUE;
    action();
    return G_SOURCE_REMOVE;
}

void closeDialog() {
    if (GtkWidget* window = dialogWindow()) gtk_window_close(GTK_WINDOW(window));
}

gboolean closeAtLimit(gpointer) {
    closedByLimit = true;
    closeDialog();
    return G_SOURCE_REMOVE;
}

DialogRun runAndAct(DialogProcedure procedure, std::function<void()> act) {
    action = std::move(act);
    closedByLimit = false;
    const guint watch = g_timeout_add(10, actOnceShown, nullptr);
    const guint limit = g_timeout_add_seconds(20, closeAtLimit, nullptr);
    DialogRun run{runModalDialog(testTemplate, procedure)};
    for (const guint source : {watch, limit})
        if (g_main_context_find_source_by_id(nullptr, source) != nullptr) g_source_remove(source);
    run.closedByLimit = closedByLimit;
    return run;
}

// Types `names` into the dialog from another process, while the dialog's loop goes on.
void keys(const std::string& names) {
    const std::string command =
        "xdotool search --sync --name '^View test$' windowfocus --sync key --delay 50 " + names;
    GError* error = nullptr;
    EXPECT_TRUE(g_spawn_command_line_async(command.c_str(), &error)) << (error ? error->message : "");
    if (error != nullptr) g_error_free(error);
}

std::vector<std::pair<DialogMessage, int32_t>> messages;

// Gives the list the focus, and records every message until Escape's command.
void recordUntilCancel(DialogControls& controls, DialogMessage message, int32_t controlId) {
    if (message == DialogMessage::initialise) {
        controls.appendItem(listId, "1280 x 720");
        controls.setFocus(listId);
        return;
    }
    messages.emplace_back(message, controlId);
    if (message == DialogMessage::command && controlId == cancelId) controls.end(5);
}

// The view decides nothing on Return: it sends the focused control, and the procedure presses
// what it will. A change of the list's selection is a command; Escape is the cancel command.
TEST(GtkDialogTest, ReturnBringsTheFocusedControlToTheProcedureAndEscapeIsCancel) {
    messages.clear();
    const DialogRun run = runAndAct(recordUntilCancel, [] { keys("Return Down shift+Tab Return Escape"); });
    ASSERT_EQ(run.result.status, DialogStatus::ended) << run.result.message;
    EXPECT_FALSE(run.closedByLimit);
    EXPECT_EQ(run.result.result, 5);
    using M = DialogMessage;
    EXPECT_EQ(
        messages,
        (std::vector<std::pair<M, int32_t>>{
            {M::returnKey, listId}, {M::command, listId}, {M::returnKey, cancelId}, {M::command, cancelId}}));
}

std::vector<int32_t> commands;

// Records commands and ends on none: only the view can end the dialog.
void neverEnds(DialogControls&, DialogMessage message, int32_t controlId) {
    if (message == DialogMessage::command) commands.push_back(controlId);
}

TEST(GtkDialogTest, AStopSignalClosesTheDialogAsTheCloseButtonDoesAndTheRequestStands) {
    commands.clear();
    const DialogRun stopped = runAndAct(neverEnds, [] { std::raise(SIGTERM); });
    ASSERT_EQ(stopped.result.status, DialogStatus::ended) << stopped.result.message;
    EXPECT_FALSE(stopped.closedByLimit);
    EXPECT_EQ(stopped.result.result, 0);
    EXPECT_EQ(commands, std::vector<int32_t>{cancelId});
    EXPECT_EQ(stopSignal(), SIGTERM);

    // a dialog opened after the request closes at once
    commands.clear();
    const DialogRun next = runAndAct(neverEnds, [] {});
    EXPECT_FALSE(next.closedByLimit) << "the second dialog waited for the viewer";
    EXPECT_EQ(next.result.result, 0);
    EXPECT_EQ(commands, std::vector<int32_t>{cancelId});
}

// Where each control lies against where the template puts it: a dialog unit is 1.5 x 1.625
// pixels of an 8-point font at 96 dpi, times the font's dpi over 96 (GTK multiplies by the
// window scale itself). A text too large for its box would make its control grow out of it.
struct Layout {
    int windowScale = 0;
    double dpi = 0;
    std::vector<std::string> misplaced;  // controls off their box, and texts cut
};

std::string rectangle(int width, int height, int x, int y) {
    return std::to_string(width) + "x" + std::to_string(height) + "+" + std::to_string(x) + "+" +
           std::to_string(y);
}

Layout layoutOnScreen() {
    Layout layout;
    const std::vector<GtkWidget*> widgets = controlWidgets();
    if (widgets.empty()) return layout;
    layout.windowScale = gtk_widget_get_scale_factor(widgets[0]);
    layout.dpi = gdk_screen_get_resolution(gtk_widget_get_screen(widgets[0]));
    const auto px = [units = layout.dpi / 96.0](double dialogUnits, double perUnit) {
        return static_cast<int>(std::lround(dialogUnits * perUnit * units));
    };
    for (std::size_t i = 0; i < widgets.size(); ++i) {
        const DialogControl& control = testControls[i];
        GtkAllocation box;
        gtk_widget_get_allocation(widgets[i], &box);
        // a list is as high as its text
        const int height =
            control.controlClass == ControlClass::comboBox ? box.height : px(control.cy, 1.625);
        const std::string want =
            rectangle(px(control.cx, 1.5), height, px(control.x, 1.5), px(control.y, 1.625));
        if (rectangle(box.width, box.height, box.x, box.y) != want)
            layout.misplaced.push_back(std::string(control.text) + " at " +
                                       rectangle(box.width, box.height, box.x, box.y) + ", not " + want);
        // a check box without text is all indicator, 12 pixels at 96 dpi, growing with the font
        if (GTK_IS_CHECK_BUTTON(widgets[i]) && gtk_button_get_label(GTK_BUTTON(widgets[i])) == nullptr) {
            int indicator = 0;
            gtk_widget_set_size_request(widgets[i], -1, -1);  // its own size, not its box
            gtk_widget_get_preferred_width(widgets[i], &indicator, nullptr);
            if (indicator < px(8, 1.5))
                layout.misplaced.push_back("a check box " + std::to_string(indicator) + " wide");
        }
        GtkWidget* label = GTK_IS_BUTTON(widgets[i]) ? gtk_bin_get_child(GTK_BIN(widgets[i])) : widgets[i];
        if (label != nullptr && GTK_IS_LABEL(label)) {
            int textWidth = 0, textHeight = 0;
            pango_layout_get_pixel_size(gtk_label_get_layout(GTK_LABEL(label)), &textWidth, &textHeight);
            GtkAllocation room;
            gtk_widget_get_allocation(label, &room);
            if (textWidth > room.width || textHeight > room.height)
                layout.misplaced.push_back(std::string(control.text) + " cut to " +
                                           rectangle(room.width, room.height, 0, 0));
        }
    }
    return layout;
}

void endOnCancel(DialogControls& controls, DialogMessage message, int32_t controlId) {
    if (message == DialogMessage::command && controlId == cancelId) controls.end(0);
}

// Run three times (see CMakeLists.txt): at 96 dpi, with GDK_SCALE=2, and at Xft.dpi 192.
TEST(GtkDialogTest, EveryControlKeepsItsTemplateBoxAndItsWholeTextAtTheDesktopsScale) {
    const char* dpi = std::getenv("QUARVEL_TEST_XFT_DPI");
    if (dpi != nullptr) {
        ASSERT_EQ(std::system(("echo 'Xft.dpi: " + std::string(dpi) + "' | xrdb -merge").c_str()), 0);
    }
    const char* scale = std::getenv("GDK_SCALE");
    Layout layout;
    runAndAct(endOnCancel, [&] {
        layout = layoutOnScreen();
        closeDialog();
    });
    EXPECT_EQ(layout.windowScale, scale != nullptr ? std::atoi(scale) : 1);
    EXPECT_EQ(layout.dpi, dpi != nullptr ? std::atof(dpi) : 96.0);
    EXPECT_TRUE(layout.misplaced.empty()) << testing::PrintToString(layout.misplaced);
}

}  // namespace
}  // namespace quarvel::platform
