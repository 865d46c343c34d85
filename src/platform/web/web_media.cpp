// The web backend's media service on Web Audio. Implemented: the file fetched from the page's
// folder, checked whole (platform/common/mp3_check) and decoded in full before it counts as
// rendered, played from an AudioBufferSourceNode (Run returns when its first sample is heard),
// paused and resumed at its offset, ended when the last reference goes. The page makes the audio
// context in the launcher's Enter click, the user gesture a browser asks for before a page may
// play sound; a context that has not started within a few seconds (no sound device, or the
// browser keeps the page silent) fails the render, and the page says why.
// Left out: streaming (the 86-second soundtrack is decoded whole, before the clock starts).
#include "platform/common/media_references.h"
#include "platform/common/mp3_check.h"
#include "platform/platform.h"
#include "platform/web/page_calls.h"

#include <cassert>
#include <vector>

namespace quarvel::platform {

struct MediaGraph {
    int32_t references = 1;
    int32_t sound = 0;  // the page's name for the decoded sound
    bool rendered = false;
    bool renderTried = false;
};

namespace {

// module-level: sound names are unique in the page for its whole life
int32_t nextSound = 1;

}  // namespace

int32_t& referencesOf(MediaGraph* graph) {
    return graph->references;
}

void destroyMediaGraph(MediaGraph* graph) {
    quarvelPageForgetSound(graph->sound);
    delete graph;
}

MediaGraph* createMediaGraph() {
    return new MediaGraph{1, nextSound++, false, false};
}

MediaRenderResult renderMediaFile(MediaGraph* graph, const std::string& fileName) {
    assert(graph != nullptr && !graph->renderTried && "a graph renders one file");
    graph->renderTried = true;
    const int32_t length = quarvelPageFetch(fileName.c_str());
    if (length < 0) return MediaRenderResult::failed;
    std::vector<uint8_t> bytes(static_cast<std::size_t>(length));
    quarvelPageCopyFetched(bytes.data());
    // a browser decodes a cut file as far as it goes without a word: check it whole first
    if (!isCompleteMp3(bytes.data(), bytes.size())) {
        quarvelPageDropFetched();
        return MediaRenderResult::failed;
    }
    graph->rendered = quarvelPageDecodeAudio(graph->sound) == 1;
    return graph->rendered ? MediaRenderResult::complete : MediaRenderResult::failed;
}

void seekMediaToStart(MediaSeeking seeking) {
    assert(seeking.graph != nullptr);
    quarvelPageSeekSoundToStart(seeking.graph->sound);
}

void stopMedia(MediaControl control) {
    assert(control.graph != nullptr);
    quarvelPagePauseSound(control.graph->sound);
}

void runMedia(MediaControl control) {
    assert(control.graph != nullptr);
    if (control.graph->rendered) quarvelPagePlaySound(control.graph->sound);
}

}  // namespace quarvel::platform
