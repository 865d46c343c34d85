// Handing out and giving up a media graph's counted references, over the backend's count.
#include "platform/common/media_references.h"

#include <cassert>

namespace quarvel::platform {

namespace {

MediaGraph* addReference(MediaGraph* graph) {
    assert(graph != nullptr);
    ++referencesOf(graph);
    return graph;
}

void dropReference(MediaGraph* graph) {
    assert(graph != nullptr && referencesOf(graph) > 0);
    if (--referencesOf(graph) == 0) destroyMediaGraph(graph);
}

}  // namespace

MediaControl mediaControlOf(MediaGraph* graph) {
    return {addReference(graph)};
}

MediaSeeking mediaSeekingOf(MediaGraph* graph) {
    return {addReference(graph)};
}

void releaseMediaGraph(MediaGraph* graph) {
    dropReference(graph);
}

void releaseMediaControl(MediaControl control) {
    dropReference(control.graph);
}

void releaseMediaSeeking(MediaSeeking seeking) {
    dropReference(seeking.graph);
}

}  // namespace quarvel::platform
