// The soundtrack media service on DirectShow: a filter graph built with COM and its graph-builder,
// media-control and media-seeking interfaces; the graph's references are counted in
// media_references.cpp, and the last one gives the three interfaces back to COM.
#include "platform/common/media_references.h"
#include "platform/common/mp3_check.h"
#include "platform/platform.h"

#include <cassert>
#include <dshow.h>
#include <string>
#include <windows.h>

namespace quarvel::platform {

// The graph's three interfaces, each one COM reference held from creation to the last of the
// graph's own references.
struct MediaGraph {
    IGraphBuilder* builder = nullptr;
    IMediaControl* control = nullptr;
    IMediaSeeking* seeking = nullptr;
    int32_t references = 0;
    bool renderTried = false;
    bool rendered = false;  // the whole file is in the graph, connected to an audio output
};

namespace {

std::wstring wide(const std::string& text) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (length <= 0) return {};
    std::wstring result(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, result.data(), length);
    result.pop_back();  // the terminator MultiByteToWideChar counted
    return result;
}

}  // namespace

MediaGraph* createMediaGraph() {
    // the calling thread becomes a single-threaded apartment for the rest of the process; COM is
    // not uninitialised, since the graph may live until the process ends
    CoInitialize(nullptr);
    IGraphBuilder* builder = nullptr;
    const HRESULT created =
        CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                         IID_IGraphBuilder, reinterpret_cast<void**>(&builder));
    if (FAILED(created) || builder == nullptr) return nullptr;
    MediaGraph* graph = new MediaGraph;
    graph->builder = builder;
    graph->references = 1;
    if (FAILED(builder->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&graph->control))) ||
        FAILED(builder->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&graph->seeking)))) {
        destroyMediaGraph(graph);
        return nullptr;
    }
    return graph;
}

int32_t& referencesOf(MediaGraph* graph) {
    return graph->references;
}

void destroyMediaGraph(MediaGraph* graph) {
    if (graph->seeking != nullptr) graph->seeking->Release();
    if (graph->control != nullptr) graph->control->Release();
    graph->builder->Release();
    delete graph;
}

MediaRenderResult renderMediaFile(MediaGraph* graph, const std::string& fileName) {
    assert(graph != nullptr && graph->builder != nullptr && !graph->renderTried);
    if (graph->renderTried) return MediaRenderResult::failed;
    graph->renderTried = true;
    // the decoder would play a cut or damaged file as far as it goes and call that success
    if (!isCompleteMp3(fileName)) return MediaRenderResult::failed;
    const std::wstring name = wide(fileName);
    // S_OK only: the success codes of a partial render (VFW_S_PARTIAL_RENDER, and
    // VFW_S_AUDIO_NOT_RENDERED where there is no audio output) are failures
    graph->rendered = graph->builder->RenderFile(name.c_str(), nullptr) == S_OK;
    return graph->rendered ? MediaRenderResult::complete : MediaRenderResult::failed;
}

void seekMediaToStart(MediaSeeking seeking) {
    assert(seeking.graph != nullptr && seeking.graph->seeking != nullptr);
    // the stop position stays where it is: NoPositioning ignores the value passed for it
    LONGLONG position = 0;
    seeking.graph->seeking->SetPositions(&position, AM_SEEKING_AbsolutePositioning, &position,
                                         AM_SEEKING_NoPositioning);
}

void stopMedia(MediaControl control) {
    assert(control.graph != nullptr && control.graph->control != nullptr);
    control.graph->control->Stop();
}

void runMedia(MediaControl control) {
    assert(control.graph != nullptr && control.graph->control != nullptr);
    // a partly rendered graph would play what it holds; after a failed render nothing plays
    if (control.graph->rendered) control.graph->control->Run();
}

}  // namespace quarvel::platform
