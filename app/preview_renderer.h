// The preview's render thread: stamps the sample photograph with the latest
// parameters the settings dialog posted. Posts that arrive while a render
// runs, or before the thread wakes, are merged: only the latest state is
// rendered. Stopping sets a flag and wakes the thread, which ends after the
// render in progress (pending renders are dropped), and joins it.
// No Qt here: the finished frame goes to a callback on the render thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "MK_Core.h"
#include "stamp_sample.h"

namespace mk::app {

class PreviewRenderer {
  public:
    // Called on the render thread with each finished frame, which the
    // callee may keep (it is the callee's own copy).
    using FrameCallback = std::function<void(Pixels frame)>;

    // `source`: the sample photograph, which every render starts from.
    PreviewRenderer(Pixels source, FrameCallback done);
    ~PreviewRenderer();
    PreviewRenderer(const PreviewRenderer &) = delete;
    PreviewRenderer &operator=(const PreviewRenderer &) = delete;

    // New parameters: the layer with the record's geometry, not yet scaled
    // to the photograph (the render does that, as stamping a file would).
    void post(const OverlayLayer &layer);
    // Ends the thread; idempotent. The destructor calls it.
    void stop();

    // Frames rendered so far (for tests and measurements).
    int renderCount() const { return renders_.load(); }

  private:
    void Run();

    const Pixels source_;
    const FrameCallback done_;
    std::mutex mutex_;
    std::condition_variable wake_;
    // Guarded by mutex_.
    OverlayLayer pending_{};
    bool requested_ = false;
    // Written under mutex_ so that the wake cannot be missed; read by the
    // render thread between steps without it.
    std::atomic<bool> quit_{false};
    std::atomic<int> renders_{0};
    std::thread thread_;
};

}  // namespace mk::app
