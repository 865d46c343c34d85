// The counted references of the media service, for every backend. media_references.cpp hands
// references out and gives them up; the backend gives it the count of a graph and what happens
// when its last reference goes.
#pragma once

#include "platform/platform.h"

#include <cstdint>

namespace quarvel::platform {

// The graph's count of references held, 1 when createMediaGraph hands it out.
int32_t& referencesOf(MediaGraph* graph);

// After the last reference: playback ends at once and the file, decoder and output are freed.
void destroyMediaGraph(MediaGraph* graph);

}  // namespace quarvel::platform
