// Building the soundtrack's media graph, in the order its status line depends on.
#include "audio/soundtrack_player.h"

#include <cstdio>

namespace quarvel {

SoundtrackPlayer::SoundtrackPlayer(std::string fileName) {
    platform::MediaGraph* graph = platform::createMediaGraph();
    if (graph != nullptr) {
        mediaControl = platform::mediaControlOf(graph);
        mediaSeeking = platform::mediaSeekingOf(graph);
    }

    // without either reference the file could not be started or positioned: it is not rendered,
    // and the run goes on as after a failed render
    const bool haveGraph = graph != nullptr && mediaControl.graph != nullptr && mediaSeeking.graph != nullptr;
    const bool rendered =
        haveGraph && platform::renderMediaFile(graph, fileName) == platform::MediaRenderResult::complete;

    // the only line the demo writes; flushed so that it is seen at once through a pipe
    std::fputs(rendered ? "Song succesfully rendered!\n" : "mp3 rendering failed :(\n", stdout);
    std::fflush(stdout);

    if (graph != nullptr) platform::releaseMediaGraph(graph);
    if (mediaSeeking.graph != nullptr) platform::seekMediaToStart(mediaSeeking);
    if (mediaControl.graph != nullptr) platform::stopMedia(mediaControl);
}

SoundtrackPlayer::~SoundtrackPlayer() {
    release();
}

void SoundtrackPlayer::run() {
    if (mediaControl.graph != nullptr) platform::runMedia(mediaControl);
}

void SoundtrackPlayer::release() {
    if (mediaControl.graph != nullptr) platform::releaseMediaControl(mediaControl);
    mediaControl = {};
    if (mediaSeeking.graph != nullptr) platform::releaseMediaSeeking(mediaSeeking);
    mediaSeeking = {};
}

}  // namespace quarvel
