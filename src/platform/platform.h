// The one contract between the demo's logic and the operating system.
// Each backend (sdl, headless, win32, web, the tests' fake) provides every function declared here;
// CMake decides which backend an executable links. The logic includes nothing else of the platform.
#pragma once

#include <cstdint>
#include <string>

namespace quarvel::platform {

// --- window, display mode and GL context -------------------------------------------------------

enum class SurfaceStatus {
    ready,               // window shown, GL context current on the calling thread
    displayModeRefused,  // fullscreen was asked for and the display would not switch to the size
    failed,              // no window or no GL context; `message` says what is missing
};

struct SurfaceResult {
    SurfaceStatus status = SurfaceStatus::failed;
    std::string message;
};

// Opens an undecorated window of exactly width x height at (0, 0) and makes a double-buffered,
// compatibility-profile GL context current on it. When !windowed the display that holds (0, 0)
// is first switched to width x height and the cursor is hidden for the run; both end with the
// process, however it ends (a crash aside). The default viewport is the window's size, in
// pixels whatever the desktop's scale. What is opened stays open until the process ends.
SurfaceResult openSurface(int32_t width, int32_t height, bool windowed);

using GlProc = void (*)();

// The address of a GL entry point of the current context, or nullptr when it has none.
// Works for every entry point, GL 1.1 included.
GlProc glProcAddress(const char* name);

// Shows the back buffer.
void swapBuffers();

// Takes at most one pending window-system message off the queue without acting on it. Never blocks.
void removeOneMessage();

// --- time and input ----------------------------------------------------------------------------

// Milliseconds from an arbitrary origin, wrapping at 32 bits.
uint32_t timerMilliseconds();

// True while Escape is down, or when it was pressed at any time since the previous call,
// however few messages the caller took off the queue in between.
bool escapePressed();

// The request to stop that came to the process from outside (SIGINT, as from Ctrl-C, SIGTERM or
// SIGHUP), as its signal number, or 0 while none came. Where a backend takes these requests they
// no longer end the process by themselves: the caller ends its run as on Escape and exits with
// 128 + the number, and a dialog that is open ends as on its close button. 0 where none come.
int stopSignal();

// --- user-facing messages ----------------------------------------------------------------------

// A modal box with `text`, an empty caption and an OK button; returns once it is dismissed.
// Where no box can be shown it returns at once (callers also write the text to stderr), and so
// it does once a stop is requested. Only for the end of a run: a backend may close the surface
// first, giving the desktop back its mode, so that the box is not hidden behind it.
void showMessage(const std::string& text);

// --- display modes -----------------------------------------------------------------------------

struct DisplayMode {
    int32_t width = 0;
    int32_t height = 0;
    int32_t bitsPerPixel = 0;  // 32 for 8 bits per colour channel
};

// Mode `index` (from 0) of the display that openSurface switches, the one that holds (0, 0),
// in the display's own order; false past the last one.
bool displayMode(int32_t index, DisplayMode& mode);

// --- soundtrack media service ------------------------------------------------------------------
// A media graph plays one sound file on the audio output. It is held through counted references:
// the one createMediaGraph hands out, which builds the graph, and a control and a seeking
// reference taken from it. The graph lives while any reference is held. Every function but
// createMediaGraph needs a reference the caller holds; passing a missing one is a programmer error.

struct MediaGraph;  // each backend defines its own

struct MediaControl {
    MediaGraph* graph = nullptr;  // nullptr: no reference
};

struct MediaSeeking {
    MediaGraph* graph = nullptr;  // nullptr: no reference
};

enum class MediaRenderResult {
    complete,  // all of the file was checked and will play, and an audio output is open for it
    failed,    // anything less, a file that would play only in part included: nothing will play
};

// A new, empty graph and the first reference to it; nullptr where the service is not available.
MediaGraph* createMediaGraph();

// Another reference to the graph, for its control side; {} when it cannot be had.
MediaControl mediaControlOf(MediaGraph* graph);

// Another reference to the graph, for its seeking side; {} when it cannot be had.
MediaSeeking mediaSeekingOf(MediaGraph* graph);

// Opens `fileName` (a relative name is taken from the working folder), checks all of it and
// connects it to the audio output, stopped; nothing is heard until runMedia. At most once a graph.
MediaRenderResult renderMediaFile(MediaGraph* graph, const std::string& fileName);

// Playback goes from the beginning of the file: at once when it is under way, else from the
// next runMedia.
void seekMediaToStart(MediaSeeking seeking);

// Playback pauses where it is, for runMedia to go on from there; with nothing playing, nothing
// changes.
void stopMedia(MediaControl control);

// Playback starts, or goes on after stopMedia, and the call returns at once; sound goes on by
// itself, on the service's own threads, until the file ends or the graph is given up. After a
// failed render nothing plays.
void runMedia(MediaControl control);

// Each gives up one reference. When the last reference of a graph goes, playback ends at once and
// the file, the decoder and the audio output are freed.
void releaseMediaGraph(MediaGraph* graph);
void releaseMediaControl(MediaControl control);
void releaseMediaSeeking(MediaSeeking seeking);

// --- modal dialog ------------------------------------------------------------------------------

// A dialog described as data, the way a resource template describes it: positions and sizes in
// dialog units (a quarter of the dialog font's average character width across, an eighth of its
// height down), controls in tab order.
enum class ControlClass { button, staticText, comboBox };

// Style bits, with the values of the classic dialog manager so a template reads like the original.
namespace style {
inline constexpr uint32_t child = 0x40000000;
inline constexpr uint32_t visible = 0x10000000;
inline constexpr uint32_t popup = 0x80000000;
inline constexpr uint32_t caption = 0x00C00000;
inline constexpr uint32_t sysMenu = 0x00080000;
inline constexpr uint32_t vScroll = 0x00200000;
inline constexpr uint32_t group = 0x00020000;
inline constexpr uint32_t tabStop = 0x00010000;
inline constexpr uint32_t setFont = 0x00000040;
inline constexpr uint32_t modalFrame = 0x00000080;
inline constexpr uint32_t center = 0x00000800;
// button kinds (the low four bits)
inline constexpr uint32_t pushButton = 0x0;
inline constexpr uint32_t defPushButton = 0x1;
inline constexpr uint32_t autoCheckBox = 0x3;
inline constexpr uint32_t buttonKindMask = 0xF;
// static text alignment (the low two bits)
inline constexpr uint32_t textLeft = 0x0;
inline constexpr uint32_t textCenter = 0x1;
inline constexpr uint32_t textRight = 0x2;
inline constexpr uint32_t textAlignMask = 0x3;
inline constexpr uint32_t dropDownList = 0x3;  // a combo box that only lists, no edit field
}  // namespace style

struct DialogControl {
    int32_t id = -1;  // -1: a static text nobody addresses
    ControlClass controlClass = ControlClass::staticText;
    const char* text = "";
    uint32_t style = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;  // for a combo box, cy includes the dropped-down list
};

// What a view draws for a control: its class and style bits decide it, the same in every view.
enum class ControlKind { pushButton, checkBox, list, textLeft, textCenter, textRight };

constexpr ControlKind controlKind(const DialogControl& control) {
    switch (control.controlClass) {
        case ControlClass::button:
            return (control.style & style::buttonKindMask) == style::autoCheckBox ? ControlKind::checkBox
                                                                                  : ControlKind::pushButton;
        case ControlClass::comboBox: return ControlKind::list;
        case ControlClass::staticText: break;
    }
    switch (control.style & style::textAlignMask) {
        case style::textCenter: return ControlKind::textCenter;
        case style::textRight: return ControlKind::textRight;
        default: return ControlKind::textLeft;
    }
}

struct DialogTemplate {
    int32_t id = 0;
    const char* caption = "";
    const char* fontName = "";
    int32_t fontPoints = 0;
    uint32_t style = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    const DialogControl* controls = nullptr;
    int32_t controlCount = 0;
};

// Control ids the dialog manager knows: Return presses the default push button, and Escape and
// the window's close button send `cancelId` as a command.
inline constexpr int32_t okId = 1;
inline constexpr int32_t cancelId = 2;

// What a dialog procedure sees of its dialog's controls while the dialog runs. Changes made
// through it send no commands back to the procedure.
class DialogControls {
public:
    // combo box: append an item at the end (the list is not sorted), select item `index`,
    // and the selected index, or -1 when none is selected
    virtual void appendItem(int32_t controlId, const char* text) = 0;
    virtual void selectItem(int32_t controlId, int32_t index) = 0;
    virtual int32_t selectedItem(int32_t controlId) = 0;
    // check box
    virtual void setChecked(int32_t controlId, bool checked) = 0;
    virtual bool isChecked(int32_t controlId) = 0;
    // any control: a disabled one is greyed out and takes neither clicks, keys nor the focus
    virtual void enableControl(int32_t controlId, bool enabled) = 0;
    // the control that has the focus (-1: none; the dialog opens with the one named while it
    // initialises), and the push button drawn as the default one (okId until the procedure names
    // another); the view decides neither
    virtual void setFocus(int32_t controlId) = 0;
    virtual void setDefaultButton(int32_t controlId) = 0;
    // ends the dialog once the procedure returns; runModalDialog then returns `result`
    virtual void end(int32_t result) = 0;

protected:
    ~DialogControls() = default;
};

enum class DialogMessage {
    initialise,  // once, after the controls exist and before the dialog is shown
    command,     // a button or check box was clicked, or the keyboard stood in for one, or the
                 // viewer changed the selection of a list (a view may repeat it for a list)
    returnKey,   // the viewer pressed Return, and the procedure decides what it presses; a view
                 // whose toolkit has a dialog manager of its own (Win32) sends the manager's
                 // command instead
};

// `controlId` is the id of the control behind a command, the control with the focus for
// returnKey (-1: none), and 0 for initialise.
using DialogProcedure = void (*)(DialogControls& controls, DialogMessage message, int32_t controlId);

enum class DialogStatus {
    ended,        // the procedure ended the dialog; `result` is what it gave
    unavailable,  // no dialog could be shown (no display, no toolkit); `message` says why
};

struct DialogResult {
    DialogStatus status = DialogStatus::unavailable;
    int32_t result = 0;
    std::string message;
};

// Shows the dialog of `dialogTemplate`, centred on the screen, and runs `procedure` for it until
// the procedure ends it: the caller does not go on before then. When it returns, the dialog's
// windows are destroyed and their events handled, so the next window the program opens is
// alone on the screen. It leaves the process locale as it found it. Where no dialog can be
// shown it returns `unavailable` without calling `procedure`. A stop request (stopSignal) ends
// it as the close button does: `procedure` gets `cancelId`, and if it does not end the dialog,
// the dialog ends with 0 all the same.
DialogResult runModalDialog(const DialogTemplate& dialogTemplate, DialogProcedure procedure);

}  // namespace quarvel::platform
