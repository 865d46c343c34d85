// The headless backend has no audio output, so its media service is never available: a
// soundtrack player built on it reports failure and the run goes on silent.
#include "platform/platform.h"

namespace quarvel::platform {

MediaGraph* createMediaGraph() {
    return nullptr;
}

// No graph is ever handed out, so no caller holds a reference to pass to these; they answer as
// the missing service would.
MediaControl mediaControlOf(MediaGraph*) {
    return {};
}

MediaSeeking mediaSeekingOf(MediaGraph*) {
    return {};
}

MediaRenderResult renderMediaFile(MediaGraph*, const std::string&) {
    return MediaRenderResult::failed;
}

void seekMediaToStart(MediaSeeking) {}
void stopMedia(MediaControl) {}
void runMedia(MediaControl) {}
void releaseMediaGraph(MediaGraph*) {}
void releaseMediaControl(MediaControl) {}
void releaseMediaSeeking(MediaSeeking) {}

}  // namespace quarvel::platform
