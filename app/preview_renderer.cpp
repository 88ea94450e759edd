// The preview's render thread.
#include "preview_renderer.h"

#include <utility>

namespace mk::app {

PreviewRenderer::PreviewRenderer(Pixels source, FrameCallback done)
    : source_(std::move(source)), done_(std::move(done)) {
    // Started last: the thread reads the members above.
    thread_ = std::thread(&PreviewRenderer::Run, this);
}

PreviewRenderer::~PreviewRenderer() { stop(); }

void PreviewRenderer::post(const OverlayLayer &layer) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        pending_ = layer;
        pending_.prev = nullptr;
        pending_.next = nullptr;
        requested_ = true;
    }
    wake_.notify_one();
}

void PreviewRenderer::stop() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        quit_.store(true);
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void PreviewRenderer::Run() {
    for (;;) {
        OverlayLayer layer;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return quit_.load() || requested_; });
            // Stopping wins over a waiting request.
            if (quit_.load()) return;
            layer = pending_;
            requested_ = false;
        }
        Pixels frame = source_;
        ScaleToPicture(layer, frame.width, frame.height);
        Stamp(frame, layer);
        renders_.fetch_add(1);
        // A stop during the render drops the frame: nobody waits for it.
        if (quit_.load()) return;
        if (done_) done_(std::move(frame));
    }
}

}  // namespace mk::app
