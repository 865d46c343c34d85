// The soundtrack media service on SDL2 and SDL2_mixer: one graph owns the mixer's output and
// streams one checked MP3 file through it.
#include "platform/common/media_references.h"
#include "platform/common/mp3_check.h"
#include "platform/platform.h"
#include "platform/sdl/sdl_start.h"

#include <SDL.h>
#include <SDL_mixer.h>
#include <cassert>

namespace quarvel::platform {

struct MediaGraph {
    int references = 1;
    bool rendered = false;
    bool outputOpen = false;     // this graph initialised SDL audio and opened the mixer
    Mix_Music* music = nullptr;  // set only after a complete render
    bool started = false;        // Mix_PlayMusic has run since the position was last set to the start
};

namespace {

// module-level: SDL_mixer has one output for the whole process, not one per graph, so the graph
// that holds it is recorded beside it and no second graph may open it.
MediaGraph* outputOwner = nullptr;

// 1024 frames at 44.1 kHz: a mixer buffer every 23 ms keeps the start of playback close to Run
// without risking underruns on a busy machine.
constexpr int outputRate = 44100;
constexpr int outputChannels = 2;
constexpr int outputChunk = 1024;

bool openOutput(MediaGraph& graph) {
    if (!startSdlSubsystems(SDL_INIT_AUDIO)) return false;
    if ((Mix_Init(MIX_INIT_MP3) & MIX_INIT_MP3) == 0 ||
        Mix_OpenAudio(outputRate, AUDIO_S16SYS, outputChannels, outputChunk) != 0) {
        Mix_Quit();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    graph.outputOpen = true;
    outputOwner = &graph;
    return true;
}

void closeOutput(MediaGraph& graph) {
    if (!graph.outputOpen) return;
    Mix_HaltMusic();
    if (graph.music != nullptr) Mix_FreeMusic(graph.music);
    graph.music = nullptr;
    Mix_CloseAudio();
    Mix_Quit();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    graph.outputOpen = false;
    outputOwner = nullptr;
}

}  // namespace

int32_t& referencesOf(MediaGraph* graph) {
    return graph->references;
}

void destroyMediaGraph(MediaGraph* graph) {
    closeOutput(*graph);
    delete graph;
}

MediaGraph* createMediaGraph() {
    return new MediaGraph;
}

MediaRenderResult renderMediaFile(MediaGraph* graph, const std::string& fileName) {
    assert(graph != nullptr && !graph->rendered);
    if (graph->rendered || outputOwner != nullptr) return MediaRenderResult::failed;
    graph->rendered = true;
    // the decoder would play a damaged file as far as it goes and call that success
    if (!isCompleteMp3(fileName) || !openOutput(*graph)) return MediaRenderResult::failed;
    graph->music = Mix_LoadMUSType_RW(SDL_RWFromFile(fileName.c_str(), "rb"), MUS_MP3, 1);
    if (graph->music == nullptr) {
        closeOutput(*graph);
        return MediaRenderResult::failed;
    }
    return MediaRenderResult::complete;
}

void seekMediaToStart(MediaSeeking seeking) {
    MediaGraph* graph = seeking.graph;
    assert(graph != nullptr);
    if (graph->music == nullptr) return;
    // before the first run SDL_mixer starts at the beginning anyway; while it plays, or stands
    // paused, the stream is rewound where it is; after the end it must be started again
    if (graph->started && Mix_PlayingMusic() != 0) Mix_RewindMusic();
    else graph->started = false;
}

void stopMedia(MediaControl control) {
    MediaGraph* graph = control.graph;
    assert(graph != nullptr);
    if (graph->started) Mix_PauseMusic();
}

void runMedia(MediaControl control) {
    MediaGraph* graph = control.graph;
    assert(graph != nullptr);
    if (graph->music == nullptr) return;
    if (graph->started) {
        Mix_ResumeMusic();
        return;
    }
    graph->started = Mix_PlayMusic(graph->music, 1) == 0;
}

}  // namespace quarvel::platform
