// The readback ring: after frame n is drawn its pixels are copied into buffer n % 3 by the GL
// itself and a fence marks the copy; the CPU maps a buffer only once frame n + 2 is queued, by
// when its fence has normally long passed. Nothing is allocated or looked up per frame.
#include "capture/capture_loop.h"

#include <cstdio>

namespace quarvel {

namespace {

// The GL objects of one capture, released when it ends however it ends.
struct ReadbackObjects {
    explicit ReadbackObjects(const OffscreenGl& api) : gl(api) {}
    ~ReadbackObjects() {
        for (GLsync& fence : fences) {
            if (fence != nullptr) gl.glDeleteSync(fence);
        }
        gl.glBindBuffer(gl::PIXEL_PACK_BUFFER, 0);
        gl.glDeleteBuffers(readbackRingSize, buffers);
        gl.glBindFramebuffer(gl::FRAMEBUFFER, 0);
        gl.glDeleteFramebuffers(1, &framebuffer);
        gl.glDeleteTextures(1, &texture);
    }
    ReadbackObjects(const ReadbackObjects&) = delete;
    ReadbackObjects& operator=(const ReadbackObjects&) = delete;

    const OffscreenGl& gl;
    GLuint framebuffer = 0;
    GLuint texture = 0;
    GLuint buffers[readbackRingSize] = {};
    GLsync fences[readbackRingSize] = {};
    int32_t frames[readbackRingSize] = {};
};

std::string glFailure(const char* what, GLenum error) {
    char text[96];
    std::snprintf(text, sizeof text, "%s (GL error 0x%04x)", what, error);
    return text;
}

CaptureResult failedCapture(std::string message, int32_t rendered, int32_t written) {
    return {CaptureEnd::failed, std::move(message), rendered, written};
}

}  // namespace

CaptureResult runCapture(const OffscreenGl& gl, const Pipeline& pipeline, const FramePlan& plan,
                         FrameSink& sink, const volatile std::sig_atomic_t* stop,
                         const std::function<void(int32_t framesRendered)>& progress) {
    const int32_t width = pipeline.width;
    const int32_t height = pipeline.height;
    const auto frameBytes = static_cast<GLsizeiptr>(width) * height * 4;
    const auto frameCount = static_cast<int32_t>(plan.clocks.size());
    const auto stopped = [stop] { return stop != nullptr && *stop != 0; };

    while (gl.glGetError() != gl::NO_ERROR) {}
    ReadbackObjects objects(gl);
    gl.glGenTextures(1, &objects.texture);
    gl.glBindTexture(gl::TEXTURE_2D, objects.texture);
    gl.glTexParameteri(gl::TEXTURE_2D, gl::TEXTURE_MIN_FILTER, gl::NEAREST);
    gl.glTexParameteri(gl::TEXTURE_2D, gl::TEXTURE_MAG_FILTER, gl::NEAREST);
    gl.glTexImage2D(gl::TEXTURE_2D, 0, gl::RGBA, width, height, 0, gl::RGBA, gl::UNSIGNED_BYTE, nullptr);
    gl.glBindTexture(gl::TEXTURE_2D, 0);
    gl.glGenFramebuffers(1, &objects.framebuffer);
    gl.glBindFramebuffer(gl::FRAMEBUFFER, objects.framebuffer);
    gl.glFramebufferTexture2D(gl::FRAMEBUFFER, gl::COLOR_ATTACHMENT0, gl::TEXTURE_2D, objects.texture, 0);
    gl.glDrawBuffer(gl::COLOR_ATTACHMENT0);
    gl.glReadBuffer(gl::COLOR_ATTACHMENT0);
    const GLenum completeness = gl.glCheckFramebufferStatus(gl::FRAMEBUFFER);
    if (completeness != gl::FRAMEBUFFER_COMPLETE)
        return failedCapture(glFailure("the capture framebuffer is incomplete", completeness), 0, 0);
    gl.glGenBuffers(readbackRingSize, objects.buffers);
    for (GLuint buffer : objects.buffers) {
        gl.glBindBuffer(gl::PIXEL_PACK_BUFFER, buffer);
        gl.glBufferData(gl::PIXEL_PACK_BUFFER, frameBytes, nullptr, gl::STREAM_READ);
    }
    gl.glBindBuffer(gl::PIXEL_PACK_BUFFER, 0);
    gl.glPixelStorei(gl::PACK_ALIGNMENT, 4);
    gl.glViewport(0, 0, width, height);
    if (const GLenum error = gl.glGetError(); error != gl::NO_ERROR)
        return failedCapture(glFailure("the GL could not make the capture's buffers at this size", error), 0,
                             0);

    int32_t rendered = 0;
    int32_t written = 0;
    int oldest = 0;  // ring slot of the oldest frame in flight
    int inFlight = 0;

    // waits for the oldest frame's copy, hands it to the sink and frees its slot
    const auto drainOldest = [&]() -> Status {
        GLsync& fence = objects.fences[oldest];
        GLenum waited = gl::TIMEOUT_EXPIRED;
        while (waited == gl::TIMEOUT_EXPIRED) {
            if (stopped()) return failure("interrupted");
            waited = gl.glClientWaitSync(fence, gl::SYNC_FLUSH_COMMANDS_BIT, 100'000'000);
        }
        gl.glDeleteSync(fence);
        fence = nullptr;
        if (waited == gl::WAIT_FAILED)
            return failure(glFailure("waiting for a frame failed", gl.glGetError()));

        gl.glBindBuffer(gl::PIXEL_PACK_BUFFER, objects.buffers[oldest]);
        const void* pixels = gl.glMapBufferRange(gl::PIXEL_PACK_BUFFER, 0, frameBytes, gl::MAP_READ_BIT);
        if (pixels == nullptr) {
            gl.glBindBuffer(gl::PIXEL_PACK_BUFFER, 0);
            return failure(glFailure("a frame could not be mapped", gl.glGetError()));
        }
        Status status = sink.write(objects.frames[oldest], static_cast<const unsigned char*>(pixels));
        gl.glUnmapBuffer(gl::PIXEL_PACK_BUFFER);
        gl.glBindBuffer(gl::PIXEL_PACK_BUFFER, 0);
        oldest = (oldest + 1) % readbackRingSize;
        --inFlight;
        if (status.ok) ++written;
        return status;
    };
    const auto ended = [&](const Status& status) {
        if (stopped()) return CaptureResult{CaptureEnd::interrupted, {}, rendered, written};
        return failedCapture(status.message, rendered, written);
    };

    for (int32_t n = 0; n < frameCount; ++n) {
        if (stopped()) return CaptureResult{CaptureEnd::interrupted, {}, rendered, written};
        drawFrame(gl, pipeline, plan.clocks[n], n, objects.framebuffer);
        if (n >= plan.firstWritten) {
            const int slot = (oldest + inFlight) % readbackRingSize;
            gl.glBindBuffer(gl::PIXEL_PACK_BUFFER, objects.buffers[slot]);
            gl.glReadPixels(0, 0, width, height, gl::RGBA, gl::UNSIGNED_BYTE, nullptr);
            gl.glBindBuffer(gl::PIXEL_PACK_BUFFER, 0);
            objects.fences[slot] = gl.glFenceSync(gl::SYNC_GPU_COMMANDS_COMPLETE, 0);
            objects.frames[slot] = n;
            ++inFlight;
        }
        endFrame(gl);
        gl.glFlush();
        ++rendered;
        if (inFlight == readbackRingSize) {
            if (Status status = drainOldest(); !status.ok) return ended(status);
        }
        if (progress) progress(rendered);
    }
    while (inFlight > 0) {
        if (Status status = drainOldest(); !status.ok) return ended(status);
    }
    // with nothing read back, the last frames may still be drawing
    gl.glFinish();
    return {CaptureEnd::done, {}, rendered, written};
}

}  // namespace quarvel
