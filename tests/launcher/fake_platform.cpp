// The scripted platform and its recording GL.
#include "fake_platform.h"

#include "launcher/launcher_dialog.h"
#include "render/gl_api.h"
#include "shaders/shader_interface.h"

#include <cstring>
#include <map>
#include <type_traits>

namespace quarvel::fake {

namespace {

struct FakeState {
    PlatformScript script;
    PlatformRecord record;
    int timerCalls = 0;
    GLuint nextName = 1;
    GLuint sceneProgram = 0;
    GLuint currentProgram = 0;
    std::vector<GLuint> shaders;
    int mediaHeld[3] = {};  // references held, by side: graph, control, seeking
};

FakeState& state() {
    static FakeState s;
    return s;
}

// The fake GL: every entry point does nothing and returns zero, except the few below.
void QUARVEL_GL_CALL genNames(GLsizei n, GLuint* names) {
    for (GLsizei i = 0; i < n; ++i) names[i] = state().nextName++;
}
GLuint QUARVEL_GL_CALL createProgram() {
    FakeState& s = state();
    const GLuint name = s.nextName++;
    if (s.sceneProgram == 0) s.sceneProgram = name;
    return name;
}
GLuint QUARVEL_GL_CALL createShader(GLenum) {
    FakeState& s = state();
    s.shaders.push_back(s.nextName++);
    return s.shaders.back();
}
void QUARVEL_GL_CALL useProgram(GLuint program) {
    state().currentProgram = program;
}
void QUARVEL_GL_CALL uniform1i(GLint location, GLint value) {
    FakeState& s = state();
    if (s.currentProgram == s.sceneProgram && location == shaders::scene::t.location)
        s.record.frameClocks.push_back(value);
}
void QUARVEL_GL_CALL rects(GLshort, GLshort, GLshort, GLshort) {
    state().record.calls.push_back("draw");
}
const GLubyte* QUARVEL_GL_CALL getString(GLenum name) {
    const std::string& text = name == gl::VERSION ? state().script.glVersion : std::string("fake renderer");
    static std::string kept;
    kept = text;
    return reinterpret_cast<const GLubyte*>(kept.c_str());
}
void QUARVEL_GL_CALL getObjectParameteriv(GLhandleARB object, GLenum pname, GLint* value) {
    FakeState& s = state();
    *value = 1;
    if (pname == gl::OBJECT_COMPILE_STATUS_ARB && s.script.failingShader >= 0 &&
        static_cast<std::size_t>(s.script.failingShader) < s.shaders.size() &&
        s.shaders[static_cast<std::size_t>(s.script.failingShader)] == object)
        *value = 0;
}
void QUARVEL_GL_CALL getInfoLog(GLhandleARB, GLsizei maxLength, GLsizei*, GLchar* log) {
    std::strncpy(log, state().script.programLog.c_str(), static_cast<std::size_t>(maxLength));
    log[maxLength - 1] = '\0';
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
template <typename Ret, typename... Args>
Ret QUARVEL_GL_CALL noop(Args...) {
    if constexpr (!std::is_void_v<Ret>) return Ret{};
}
#pragma GCC diagnostic pop

template <typename Ret, typename... Args>
platform::GlProc noopFor(Ret(QUARVEL_GL_CALL*)(Args...)) {
    return reinterpret_cast<platform::GlProc>(&noop<Ret, Args...>);
}

const std::map<std::string, platform::GlProc>& entryPoints() {
    static const std::map<std::string, platform::GlProc> table = [] {
        std::map<std::string, platform::GlProc> t;
        GlApi types;  // only for the pointer types of each entry point
#define QUARVEL_FAKE_ENTRY(ret, name, args) t[#name] = noopFor(types.name);
        QUARVEL_GL_FUNCTIONS(QUARVEL_FAKE_ENTRY)
#undef QUARVEL_FAKE_ENTRY
        t["glGenTextures"] = reinterpret_cast<platform::GlProc>(&genNames);
        t["glGenFramebuffers"] = reinterpret_cast<platform::GlProc>(&genNames);
        t["glCreateProgram"] = reinterpret_cast<platform::GlProc>(&createProgram);
        t["glCreateShader"] = reinterpret_cast<platform::GlProc>(&createShader);
        t["glUseProgram"] = reinterpret_cast<platform::GlProc>(&useProgram);
        t["glUniform1i"] = reinterpret_cast<platform::GlProc>(&uniform1i);
        t["glRects"] = reinterpret_cast<platform::GlProc>(&rects);
        t["glGetString"] = reinterpret_cast<platform::GlProc>(&getString);
        t["glGetObjectParameterivARB"] = reinterpret_cast<platform::GlProc>(&getObjectParameteriv);
        t["glGetInfoLogARB"] = reinterpret_cast<platform::GlProc>(&getInfoLog);
        return t;
    }();
    return table;
}

}  // namespace

void reset(const PlatformScript& script) {
    state() = FakeState{};
    state().script = script;
}

const PlatformRecord& record() {
    return state().record;
}

}  // namespace quarvel::fake

namespace quarvel::platform {

using fake::state;

SurfaceResult openSurface(int32_t width, int32_t height, bool windowed) {
    auto& s = state();
    s.record.calls.push_back("openSurface");
    s.record.surfaceWidth = width;
    s.record.surfaceHeight = height;
    s.record.surfaceWindowed = windowed;
    return {s.script.surfaceStatus, s.script.surfaceMessage};
}

GlProc glProcAddress(const char* name) {
    auto& s = state();
    if (s.script.missingEntryPoint != nullptr && std::strcmp(name, s.script.missingEntryPoint) == 0)
        return nullptr;
    const auto& table = fake::entryPoints();
    const auto found = table.find(name);
    return found == table.end() ? nullptr : found->second;
}

void swapBuffers() {
    state().record.calls.push_back("swap");
    ++state().record.swaps;
}

void removeOneMessage() {
    state().record.calls.push_back("removeOneMessage");
}

uint32_t timerMilliseconds() {
    auto& s = state();
    s.record.calls.push_back("timer");
    return s.script.timer(s.timerCalls++);
}

bool escapePressed() {
    auto& s = state();
    s.record.calls.push_back("escape");
    return s.script.escape(s.record.swaps - 1);
}

int stopSignal() {
    auto& s = state();
    return s.script.stopSignal(s.record.swaps - 1);
}

void showMessage(const std::string& text) {
    state().record.calls.push_back("showMessage");
    state().record.messages.push_back(text);
}

bool displayMode(int32_t index, DisplayMode& mode) {
    const auto& modes = state().script.displayModes;
    if (index < 0 || static_cast<std::size_t>(index) >= modes.size()) return false;
    mode = modes[static_cast<std::size_t>(index)];
    return true;
}

namespace {

// The dialog's controls as plain values: one list, one box, and whether Enter is enabled.
class FakeDialog final : public DialogControls {
public:
    void appendItem(int32_t, const char* text) override { state().record.dialogItems.push_back(text); }
    void selectItem(int32_t, int32_t index) override { selected = index; }
    int32_t selectedItem(int32_t) override { return selected; }
    void setChecked(int32_t, bool value) override { checked = value; }
    bool isChecked(int32_t) override { return checked; }
    void enableControl(int32_t controlId, bool enabled) override {
        if (controlId == okId) enterEnabled = enabled;
    }
    void setFocus(int32_t) override {}
    void setDefaultButton(int32_t) override {}
    void end(int32_t value) override {
        ended = true;
        result = value;
    }

    int32_t selected = -1;
    bool checked = false;
    bool enterEnabled = true;
    bool ended = false;
    int32_t result = 0;
};

}  // namespace

DialogResult runModalDialog(const DialogTemplate&, DialogProcedure procedure) {
    auto& s = state();
    s.record.calls.push_back("dialog");
    if (!s.script.dialogAvailable) return {DialogStatus::unavailable, 0, "the fake has no display"};
    FakeDialog dialog;
    procedure(dialog, DialogMessage::initialise, 0);
    if (s.script.chooseItem >= 0) {
        dialog.selected = s.script.chooseItem;
        procedure(dialog, DialogMessage::command, resolutionListId);  // the list reports the choice
    }
    if (s.script.fullscreenBox >= 0) dialog.checked = s.script.fullscreenBox == 1;
    // a stop signal while the dialog is open: the close button's command, and the end all the same
    if (s.script.stopSignal(-1) != 0) {
        procedure(dialog, DialogMessage::command, cancelId);
        if (!dialog.ended) dialog.end(0);
    }
    for (const int32_t command : s.script.dialogCommands) {
        if (dialog.ended) break;
        // a disabled Enter takes no click and no Return
        if (command == okId && !dialog.enterEnabled) continue;
        procedure(dialog, DialogMessage::command, command);
    }
    // a real dialog would still be waiting for the viewer
    if (!dialog.ended) s.record.calls.push_back("dialog still open");
    return {DialogStatus::ended, dialog.result, {}};
}

// --- soundtrack media service: one graph, counted references, every call recorded -----------

struct MediaGraph {};

namespace {

MediaGraph fakeGraph;

enum MediaSide { graphSide, controlSide, seekingSide };

// Records the call; true when it came with a reference of that side that is still held.
bool mediaCall(const char* name, const MediaGraph* graph, MediaSide side) {
    auto& s = state();
    s.record.calls.push_back(name);
    if (graph == &fakeGraph && s.mediaHeld[side] > 0) return true;
    ++s.record.mediaCallsWithoutReference;
    return false;
}

void take(MediaSide side) {
    ++state().mediaHeld[side];
    ++state().record.mediaReferences;
}

void give(MediaSide side) {
    --state().mediaHeld[side];
    --state().record.mediaReferences;
}

}  // namespace

MediaGraph* createMediaGraph() {
    auto& s = state();
    s.record.calls.push_back("createMediaGraph");
    if (!s.script.mediaGraphAvailable) return nullptr;
    take(graphSide);
    return &fakeGraph;
}

MediaControl mediaControlOf(MediaGraph* graph) {
    if (!mediaCall("mediaControlOf", graph, graphSide) || !state().script.mediaControlAvailable) return {};
    take(controlSide);
    return {graph};
}

MediaSeeking mediaSeekingOf(MediaGraph* graph) {
    if (!mediaCall("mediaSeekingOf", graph, graphSide) || !state().script.mediaSeekingAvailable) return {};
    take(seekingSide);
    return {graph};
}

MediaRenderResult renderMediaFile(MediaGraph* graph, const std::string& fileName) {
    state().record.mediaFiles.push_back(fileName);
    if (!mediaCall("renderMediaFile", graph, graphSide)) return MediaRenderResult::failed;
    return state().script.mediaRender;
}

void seekMediaToStart(MediaSeeking seeking) {
    mediaCall("seekMediaToStart", seeking.graph, seekingSide);
}

void stopMedia(MediaControl control) {
    mediaCall("stopMedia", control.graph, controlSide);
}

void runMedia(MediaControl control) {
    mediaCall("runMedia", control.graph, controlSide);
}

void releaseMediaGraph(MediaGraph* graph) {
    if (mediaCall("releaseMediaGraph", graph, graphSide)) give(graphSide);
}

void releaseMediaControl(MediaControl control) {
    if (mediaCall("releaseMediaControl", control.graph, controlSide)) give(controlSide);
}

void releaseMediaSeeking(MediaSeeking seeking) {
    if (mediaCall("releaseMediaSeeking", seeking.graph, seekingSide)) give(seekingSide);
}

}  // namespace quarvel::platform
