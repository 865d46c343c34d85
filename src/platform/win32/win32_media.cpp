// The soundtrack media service on DirectShow: a filter graph built with COM, its graph-builder,
// media-control and media-seeking interfaces, each reference one counted COM reference.
#include "platform/common/mp3_check.h"
#include "platform/platform.h"

#include <cassert>
#include <dshow.h>
#include <string>
#include <windows.h>

namespace quarvel::platform {

// The graph's interfaces, as far as references to them are held. COM counts the references and
// keeps the filter graph alive while any is held; this record only remembers the interface
// pointers, and goes when the last of the references it handed out is given up.
struct MediaGraph {
    IGraphBuilder* builder = nullptr;
    IMediaControl* control = nullptr;
    IMediaSeeking* seeking = nullptr;
    int references = 0;
    bool renderTried = false;
    bool rendered = false;  // the whole file is in the graph, connected to an audio output
};

namespace {

void drop(MediaGraph* graph) {
    assert(graph->references > 0);
    if (--graph->references == 0) delete graph;
}

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
    return graph;
}

MediaControl mediaControlOf(MediaGraph* graph) {
    assert(graph != nullptr && graph->builder != nullptr);
    IMediaControl* control = nullptr;
    if (FAILED(graph->builder->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control))) ||
        control == nullptr)
        return {};
    graph->control = control;
    ++graph->references;
    return {graph};
}

MediaSeeking mediaSeekingOf(MediaGraph* graph) {
    assert(graph != nullptr && graph->builder != nullptr);
    IMediaSeeking* seeking = nullptr;
    if (FAILED(graph->builder->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking))) ||
        seeking == nullptr)
        return {};
    graph->seeking = seeking;
    ++graph->references;
    return {graph};
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

void releaseMediaGraph(MediaGraph* graph) {
    assert(graph != nullptr && graph->builder != nullptr);
    graph->builder->Release();
    graph->builder = nullptr;
    drop(graph);
}

void releaseMediaControl(MediaControl control) {
    assert(control.graph != nullptr && control.graph->control != nullptr);
    control.graph->control->Release();
    drop(control.graph);
}

void releaseMediaSeeking(MediaSeeking seeking) {
    assert(seeking.graph != nullptr && seeking.graph->seeking != nullptr);
    seeking.graph->seeking->Release();
    drop(seeking.graph);
}

}  // namespace quarvel::platform
