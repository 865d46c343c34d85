// The dialog view on GTK 3: lays a dialog template out in a modal window and runs the template's
// procedure, standing in for the classic dialog manager (default button, Escape, close box, tab order,
// disabled controls). A stop signal closes the dialog as the close box does.
#include "platform/platform.h"
#include "platform/posix/stop_signals.h"

#include <clocale>
#include <cmath>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <string>
#include <vector>

namespace quarvel::platform {

namespace {

// a dialog unit of an 8-point dialog font at 96 dpi: a quarter of its 6-pixel average character
// width across, an eighth of its 13-pixel height down
constexpr double pixelsPerUnitAcross = 1.5;
constexpr double pixelsPerUnitDown = 1.625;

struct ControlWidget {
    const DialogControl* control = nullptr;
    GtkWidget* widget = nullptr;
};

class GtkDialogView final : public DialogControls {
public:
    GtkDialogView(const DialogTemplate& dialogTemplate, DialogProcedure procedure)
        : dialogTemplate_(dialogTemplate), procedure_(procedure) {}

    GtkDialogView(const GtkDialogView&) = delete;
    GtkDialogView& operator=(const GtkDialogView&) = delete;

    ~GtkDialogView() {
        if (window_ != nullptr) gtk_widget_destroy(window_);
        if (style_ != nullptr) {
            gtk_style_context_remove_provider_for_screen(gdk_screen_get_default(),
                                                         GTK_STYLE_PROVIDER(style_));
            g_object_unref(style_);
        }
    }

    int32_t run();

    void appendItem(int32_t controlId, const char* text) override {
        if (GtkWidget* w = find(controlId, ControlClass::comboBox)) {
            Quiet quiet(*this);
            gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(w), text);
        }
    }

    void selectItem(int32_t controlId, int32_t index) override {
        if (GtkWidget* w = find(controlId, ControlClass::comboBox)) {
            Quiet quiet(*this);
            gtk_combo_box_set_active(GTK_COMBO_BOX(w), index);
        }
    }

    int32_t selectedItem(int32_t controlId) override {
        GtkWidget* w = find(controlId, ControlClass::comboBox);
        return w != nullptr ? gtk_combo_box_get_active(GTK_COMBO_BOX(w)) : -1;
    }

    void setChecked(int32_t controlId, bool checked) override {
        if (GtkWidget* w = find(controlId, ControlClass::button); w != nullptr && GTK_IS_TOGGLE_BUTTON(w)) {
            Quiet quiet(*this);
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w), checked);
        }
    }

    bool isChecked(int32_t controlId) override {
        GtkWidget* w = find(controlId, ControlClass::button);
        return w != nullptr && GTK_IS_TOGGLE_BUTTON(w) && gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w));
    }

    void enableControl(int32_t controlId, bool enabled) override {
        for (const ControlWidget& c : controls_)
            if (c.control->id == controlId) gtk_widget_set_sensitive(c.widget, enabled);
    }

    void setFocus(int32_t controlId) override {
        focusId_ = controlId;
        // before the window is shown, the focus is given as it opens (see run)
        if (gtk_widget_get_visible(window_)) applyFocus();
    }

    void setDefaultButton(int32_t controlId) override {
        if (GtkWidget* w = find(controlId, ControlClass::button)) {
            gtk_widget_set_can_default(w, TRUE);
            gtk_window_set_default(GTK_WINDOW(window_), w);
        }
    }

    void end(int32_t result) override {
        ended_ = true;
        result_ = result;
    }

private:
    // changes the procedure makes itself are no commands, as with the classic dialog manager
    struct Quiet {
        explicit Quiet(GtkDialogView& view) : view(view) { ++view.quiet_; }
        ~Quiet() { --view.quiet_; }
        GtkDialogView& view;
    };

    GtkWidget* find(int32_t controlId, ControlClass controlClass) const {
        for (const ControlWidget& c : controls_)
            if (c.control->id == controlId && c.control->controlClass == controlClass) return c.widget;
        return nullptr;
    }

    void send(DialogMessage message, int32_t controlId) {
        if (quiet_ > 0 || ended_) return;
        procedure_(*this, message, controlId);
        if (ended_ && loop_ != nullptr) g_main_loop_quit(loop_);
    }
    void command(int32_t controlId) { send(DialogMessage::command, controlId); }

    int px(int16_t units, double perUnit) const {
        return static_cast<int>(std::lround(units * perUnit * scale_));
    }
    void build();
    GtkWidget* createControl(const DialogControl& control);
    void applyStyle();
    const ControlWidget* controlHolding(GtkWidget* focus) const;
    void applyFocus() {
        GtkWidget* focus = nullptr;
        for (const ControlWidget& c : controls_)
            if (c.control->id == focusId_ && focusId_ != -1) focus = c.widget;
        gtk_window_set_focus(GTK_WINDOW(window_), focus);
    }
    bool moveFocus(GtkDirectionType direction);
    bool keyPressed(const GdkEventKey& key);

    static void onClicked(GtkButton* button, gpointer self);
    static gboolean onDelete(GtkWidget*, GdkEvent*, gpointer self);
    static gboolean onKeyPress(GtkWidget*, GdkEventKey* key, gpointer self);
    static gboolean onFocus(GtkWidget*, GtkDirectionType direction, gpointer self);
    static void onSelectionChanged(GtkComboBox* list, gpointer self);
    static gboolean onStopSignal(gint, GIOCondition, gpointer self);

    const DialogTemplate& dialogTemplate_;
    DialogProcedure procedure_;
    GtkWidget* window_ = nullptr;
    GMainLoop* loop_ = nullptr;
    guint stopWatch_ = 0;  // the source that watches for a stop signal while the loop runs
    GtkCssProvider* style_ = nullptr;
    std::vector<ControlWidget> controls_;
    double scale_ = 1.0;
    int quiet_ = 0;
    int32_t focusId_ = -1;
    bool ended_ = false;
    int32_t result_ = 0;
};

GtkWidget* GtkDialogView::createControl(const DialogControl& control) {
    const ControlKind kind = controlKind(control);
    switch (kind) {
        case ControlKind::pushButton:
        case ControlKind::checkBox: {
            GtkWidget* button = kind == ControlKind::pushButton ? gtk_button_new_with_label(control.text)
                                : control.text[0] != '\0' ? gtk_check_button_new_with_label(control.text)
                                                          : gtk_check_button_new();
            g_signal_connect(button, "clicked", G_CALLBACK(onClicked), this);
            return button;
        }
        case ControlKind::list: {
            // only the drop-down list kind is used; its height in the template includes the open list
            GtkWidget* list = gtk_combo_box_text_new();
            g_signal_connect(list, "changed", G_CALLBACK(onSelectionChanged), this);
            return list;
        }
        case ControlKind::textLeft:
        case ControlKind::textCenter:
        case ControlKind::textRight: {
            GtkWidget* label = gtk_label_new(control.text);
            const float align = kind == ControlKind::textRight    ? 1.0f
                                : kind == ControlKind::textCenter ? 0.5f
                                                                  : 0.0f;
            gtk_label_set_xalign(GTK_LABEL(label), align);
            gtk_label_set_yalign(GTK_LABEL(label), 0.0f);
            gtk_label_set_justify(GTK_LABEL(label), kind == ControlKind::textRight    ? GTK_JUSTIFY_RIGHT
                                                    : kind == ControlKind::textCenter ? GTK_JUSTIFY_CENTER
                                                                                      : GTK_JUSTIFY_LEFT);
            gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
            return label;
        }
    }
    return gtk_label_new(nullptr);
}

// The template's font, and controls as compact as the classic ones so that they fit the sizes
// the template gives them. The font follows the screen's dpi by itself; the sizes in pixels below
// are for 96 dpi and grow with it, so that a check box keeps its size beside its label.
void GtkDialogView::applyStyle() {
    const auto pixels = [this](int atNormalDpi) {
        return std::to_string(std::lround(atNormalDpi * scale_)) + "px";
    };
    std::string css = "window.template-dialog, window.template-dialog * { font-family: \"";
    css += dialogTemplate_.fontName;
    css += "\", sans-serif; font-size: " + std::to_string(dialogTemplate_.fontPoints) + "pt; }\n";
    css += "window.template-dialog button { min-height: 0; min-width: 0; padding: 0 " + pixels(4) +
           "; border-width: " + pixels(1) + "; }\n";
    // the default push button wears a darker frame, as Return presses it
    css += "window.template-dialog button.default { border-color: #404040; box-shadow: inset 0 0 0 " +
           pixels(1) + " #404040; }\n";
    css += "window.template-dialog combobox button { padding: 0 " + pixels(2) + " 0 " + pixels(4) + "; }\n";
    css += "window.template-dialog combobox arrow { min-width: " + pixels(16) +
           "; min-height: " + pixels(16) + "; }\n";
    css += "window.template-dialog checkbutton { padding: 0; }\n";
    css += "window.template-dialog check { margin: 0; min-width: " + pixels(12) +
           "; min-height: " + pixels(12) + "; }\n";
    style_ = gtk_css_provider_new();
    gtk_css_provider_load_from_data(style_, css.c_str(), -1, nullptr);
    gtk_style_context_add_provider_for_screen(gtk_widget_get_screen(window_), GTK_STYLE_PROVIDER(style_),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    gtk_style_context_add_class(gtk_widget_get_style_context(window_), "template-dialog");
}

void GtkDialogView::build() {
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    const double dpi = gdk_screen_get_resolution(gtk_widget_get_screen(window_));
    scale_ = dpi > 0 ? dpi / 96.0 : 1.0;

    gtk_window_set_title(GTK_WINDOW(window_), dialogTemplate_.caption);
    gtk_window_set_modal(GTK_WINDOW(window_), TRUE);
    gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
    gtk_window_set_type_hint(GTK_WINDOW(window_), GDK_WINDOW_TYPE_HINT_DIALOG);
    if (dialogTemplate_.style & style::center)
        gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER);
    applyStyle();

    GtkWidget* fixed = gtk_fixed_new();
    gtk_widget_set_size_request(fixed, px(dialogTemplate_.cx, pixelsPerUnitAcross),
                                px(dialogTemplate_.cy, pixelsPerUnitDown));
    gtk_container_add(GTK_CONTAINER(window_), fixed);

    for (int32_t i = 0; i < dialogTemplate_.controlCount; ++i) {
        const DialogControl& control = dialogTemplate_.controls[i];
        GtkWidget* widget = createControl(control);
        const int width = px(control.cx, pixelsPerUnitAcross);
        // a closed drop-down list is as high as its content; cy counts the open list
        const int height =
            control.controlClass == ControlClass::comboBox ? -1 : px(control.cy, pixelsPerUnitDown);
        gtk_widget_set_size_request(widget, width, height);
        gtk_widget_set_can_focus(widget, (control.style & style::tabStop) != 0);
        gtk_fixed_put(GTK_FIXED(fixed), widget, px(control.x, pixelsPerUnitAcross),
                      px(control.y, pixelsPerUnitDown));
        if (control.style & style::visible) gtk_widget_show(widget);
        controls_.push_back({&control, widget});
    }

    g_signal_connect(fixed, "focus", G_CALLBACK(onFocus), this);
    g_signal_connect(window_, "key-press-event", G_CALLBACK(onKeyPress), this);
    g_signal_connect(window_, "delete-event", G_CALLBACK(onDelete), this);
    gtk_widget_show(fixed);
}

const ControlWidget* GtkDialogView::controlHolding(GtkWidget* focus) const {
    if (focus == nullptr) return nullptr;
    for (const ControlWidget& c : controls_)
        if (focus == c.widget || gtk_widget_is_ancestor(focus, c.widget)) return &c;
    return nullptr;
}

// Tab and Shift+Tab walk the tab stops in template order and wrap around, instead of GTK's
// order by position on the screen.
bool GtkDialogView::moveFocus(GtkDirectionType direction) {
    if (direction != GTK_DIR_TAB_FORWARD && direction != GTK_DIR_TAB_BACKWARD) return false;
    const int count = static_cast<int>(controls_.size());
    if (count == 0) return false;
    const ControlWidget* current = controlHolding(gtk_window_get_focus(GTK_WINDOW(window_)));
    const int step = direction == GTK_DIR_TAB_FORWARD ? 1 : count - 1;
    int index =
        current != nullptr ? static_cast<int>(current - controls_.data()) : (step == 1 ? count - 1 : 0);
    for (int n = 0; n < count; ++n) {
        index = (index + step) % count;
        const ControlWidget& c = controls_[index];
        if ((c.control->style & style::tabStop) && gtk_widget_is_visible(c.widget) &&
            gtk_widget_is_sensitive(c.widget)) {
            gtk_widget_grab_focus(c.widget);
            return true;
        }
    }
    return false;
}

// Return goes to the procedure with the control that has the focus, for it to decide what Return
// presses; Escape is the cancel command.
bool GtkDialogView::keyPressed(const GdkEventKey& key) {
    if (key.keyval == GDK_KEY_Escape) {
        command(cancelId);
        return true;
    }
    if (key.keyval != GDK_KEY_Return && key.keyval != GDK_KEY_KP_Enter && key.keyval != GDK_KEY_ISO_Enter)
        return false;
    const ControlWidget* focused = controlHolding(gtk_window_get_focus(GTK_WINDOW(window_)));
    send(DialogMessage::returnKey, focused != nullptr ? focused->control->id : -1);
    return true;
}

void GtkDialogView::onClicked(GtkButton* button, gpointer self) {
    auto* view = static_cast<GtkDialogView*>(self);
    if (const ControlWidget* c = view->controlHolding(GTK_WIDGET(button))) view->command(c->control->id);
}

// the window's close button is the cancel command; the window stays until the procedure ends it
gboolean GtkDialogView::onDelete(GtkWidget*, GdkEvent*, gpointer self) {
    static_cast<GtkDialogView*>(self)->command(cancelId);
    return TRUE;
}

gboolean GtkDialogView::onKeyPress(GtkWidget*, GdkEventKey* key, gpointer self) {
    return static_cast<GtkDialogView*>(self)->keyPressed(*key) ? TRUE : FALSE;
}

gboolean GtkDialogView::onFocus(GtkWidget*, GtkDirectionType direction, gpointer self) {
    return static_cast<GtkDialogView*>(self)->moveFocus(direction) ? TRUE : FALSE;
}

void GtkDialogView::onSelectionChanged(GtkComboBox* list, gpointer self) {
    auto* view = static_cast<GtkDialogView*>(self);
    if (const ControlWidget* c = view->controlHolding(GTK_WIDGET(list))) view->command(c->control->id);
}

// the descriptor stays readable, so this runs once the loop is up even for a signal that came
// before the dialog opened
gboolean GtkDialogView::onStopSignal(gint, GIOCondition, gpointer self) {
    auto* view = static_cast<GtkDialogView*>(self);
    view->stopWatch_ = 0;
    view->command(cancelId);
    if (!view->ended_) {
        view->end(0);
        g_main_loop_quit(view->loop_);
    }
    return G_SOURCE_REMOVE;
}

int32_t GtkDialogView::run() {
    build();
    {
        // what the procedure sets up while the dialog opens is no command either
        Quiet quiet(*this);
        procedure_(*this, DialogMessage::initialise, 0);
    }
    if (!ended_) {
        gtk_widget_show(window_);
        // given after showing: GTK hands a window shown without one the focus by itself
        applyFocus();
        loop_ = g_main_loop_new(nullptr, FALSE);
        if (const int stop = stopSignalDescriptor(); stop >= 0)
            stopWatch_ = g_unix_fd_add(stop, G_IO_IN, onStopSignal, this);
        g_main_loop_run(loop_);
        if (stopWatch_ != 0) g_source_remove(stopWatch_);
        stopWatch_ = 0;
        g_main_loop_unref(loop_);
        loop_ = nullptr;
    }

    // gone from the screen before the caller opens its own window
    GdkDisplay* display = gtk_widget_get_display(window_);
    gtk_widget_destroy(window_);
    window_ = nullptr;
    gdk_display_sync(display);
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    return result_;
}

// GTK would switch the process to the user's locale and make "%f" write commas; the demo
// formats numbers and reads shader text in the C locale.
bool startGtk(std::string& message) {
    static int started = -1;
    if (started < 0) {
        gtk_disable_setlocale();
        started = gtk_init_check(nullptr, nullptr) ? 1 : 0;
    }
    if (started == 0) {
        const char* display = g_getenv("DISPLAY");
        message =
            std::string("GTK could not open a display (DISPLAY=") + (display != nullptr ? display : "") + ")";
    }
    return started == 1;
}

}  // namespace

DialogResult runModalDialog(const DialogTemplate& dialogTemplate, DialogProcedure procedure) {
    // whatever GTK or a module it loads does to the locale is undone on the way out
    const char* current = std::setlocale(LC_ALL, nullptr);
    const std::string locale = current != nullptr ? current : "C";

    catchStopSignals();
    DialogResult result;
    if (!startGtk(result.message)) {
        result.status = DialogStatus::unavailable;
    } else {
        GtkDialogView view(dialogTemplate, procedure);
        result.result = view.run();
        result.status = DialogStatus::ended;
    }
    std::setlocale(LC_ALL, locale.c_str());
    return result;
}

}  // namespace quarvel::platform
