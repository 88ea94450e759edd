// The preview's render thread: a burst of changes ends on the last state in
// fewer renders than were asked for, and stopping in the middle of a render
// ends the thread without rendering what was still waiting and without
// handing out the frame being drawn. Run under ThreadSanitizer by the test
// command.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "MK_Core.h"
#include "preview_renderer.h"
#include "stamp_sample.h"

using mk::app::Pixels;
using mk::app::PreviewRenderer;

namespace {

using namespace std::chrono_literals;

// The program's own sample photograph, decoded by the core.
Pixels SamplePhotograph() {
    int32_t width = 0;
    int32_t height = 0;
    if (MK_ReadJPEG(MK_SAMPLE_JPEG, nullptr, &width, &height) != 0) return {};
    Pixels pixels(width, height);
    if (MK_ReadJPEG(MK_SAMPLE_JPEG, pixels.bytes.data(), &width, &height) != 0) return {};
    return pixels;
}

Setts Defaults() {
    Setts record;
    MK_SettsLoadDefaults(&record);
    return record;
}

// The layer of the default settings with `text`, `size` in hundredths of a
// percent of the shorter side.
OverlayLayer LayerWith(const std::string &text, uint32_t size) {
    Setts record = Defaults();
    record.fontSize = size;
    return mk::app::LayerFromSetts(record, text.c_str());
}

// Collects the frames the renderer hands out, from its thread.
class FrameSink {
  public:
    PreviewRenderer::FrameCallback callback() {
        return [this](Pixels frame) {
            const std::lock_guard<std::mutex> lock(mutex_);
            last_ = std::move(frame);
            ++frames_;
            arrived_.notify_all();
        };
    }
    // Waits until no frame has come for `quiet`; false after `limit`.
    bool WaitUntilQuiet(std::chrono::milliseconds quiet, std::chrono::seconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            const int before = frames_;
            arrived_.wait_for(lock, quiet, [&] { return frames_ != before; });
            if (frames_ == before && frames_ > 0) return true;
            if (std::chrono::steady_clock::now() > end) return false;
        }
    }
    int frames() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return frames_;
    }
    Pixels last() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return last_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    Pixels last_;
    int frames_ = 0;
};

// What a render of `layer` must give: the layer scaled to the photograph
// as a file of its size would be, blended into a fresh copy.
Pixels Expected(const Pixels &source, OverlayLayer layer) {
    Pixels picture = source;
    mk::app::ScaleToPicture(layer, picture.width, picture.height);
    mk::app::Stamp(picture, layer);
    return picture;
}

TEST(PreviewRendererTest, ABurstOfChangesEndsOnTheLastStateInFewerRenders) {
    const Pixels sample = SamplePhotograph();
    ASSERT_GT(sample.width, 0);
    FrameSink sink;
    PreviewRenderer renderer(sample, sink.callback());
    constexpr int kPosts = 100;
    for (int i = 0; i < kPosts; ++i) {
        renderer.post(LayerWith("2008-04-15 #" + std::to_string(i), 500 + 20 * uint32_t(i)));
    }
    ASSERT_TRUE(sink.WaitUntilQuiet(500ms, 30s));
    const int frames = sink.frames();
    EXPECT_LT(frames, kPosts);
    EXPECT_EQ(renderer.renderCount(), frames);

    const Pixels last = sink.last();
    const Pixels wanted = Expected(sample, LayerWith("2008-04-15 #99", 500 + 20 * 99));
    ASSERT_EQ(last.width, sample.width);
    ASSERT_EQ(last.height, sample.height);
    // The stamp is there at all, and it is the last one asked for.
    EXPECT_NE(std::memcmp(last.bytes.data(), sample.bytes.data(), sample.bytes.size()), 0);
    EXPECT_EQ(std::memcmp(last.bytes.data(), wanted.bytes.data(), wanted.bytes.size()), 0);
    const Pixels previous = Expected(sample, LayerWith("2008-04-15 #98", 500 + 20 * 98));
    EXPECT_NE(std::memcmp(last.bytes.data(), previous.bytes.data(), previous.bytes.size()), 0);
}

TEST(PreviewRendererTest, APostAfterQuietIsRenderedAgain) {
    const Pixels sample = SamplePhotograph();
    ASSERT_GT(sample.width, 0);
    FrameSink sink;
    PreviewRenderer renderer(sample, sink.callback());
    renderer.post(LayerWith("first", 1000));
    ASSERT_TRUE(sink.WaitUntilQuiet(200ms, 30s));
    EXPECT_EQ(sink.frames(), 1);
    renderer.post(LayerWith("second", 1000));
    ASSERT_TRUE(sink.WaitUntilQuiet(200ms, 30s));
    EXPECT_EQ(sink.frames(), 2);
    const Pixels wanted = Expected(sample, LayerWith("second", 1000));
    EXPECT_EQ(std::memcmp(sink.last().bytes.data(), wanted.bytes.data(), wanted.bytes.size()), 0);
}

TEST(PreviewRendererTest, StoppingRendersNothingOfWhatWaits) {
    const Pixels sample = SamplePhotograph();
    ASSERT_GT(sample.width, 0);
    // The first frame's hand-over is held until the test has posted more
    // and asked the renderer to stop: the thread is busy the whole time.
    std::mutex mutex;
    std::condition_variable changed;
    bool inCallback = false;
    bool release = false;
    int frames = 0;
    PreviewRenderer renderer(sample, [&](Pixels) {
        std::unique_lock<std::mutex> lock(mutex);
        ++frames;
        inCallback = true;
        changed.notify_all();
        changed.wait(lock, [&] { return release; });
    });
    renderer.post(LayerWith("first", 1000));
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, 30s, [&] { return inCallback; }));
    }
    for (int i = 0; i < 10; ++i) renderer.post(LayerWith("waiting " + std::to_string(i), 1000));
    std::thread stopper([&] { renderer.stop(); });
    // The stop is under way (its flag set) before the thread is let go.
    std::this_thread::sleep_for(50ms);
    {
        const std::lock_guard<std::mutex> lock(mutex);
        release = true;
    }
    changed.notify_all();
    stopper.join();
    EXPECT_EQ(renderer.renderCount(), 1);
    EXPECT_EQ(frames, 1);
}

TEST(PreviewRendererTest, StoppingMidRenderEndsAfterThatRenderAtMost) {
    // A picture large enough that one render takes a while, so that the
    // stop most likely comes while it runs.
    Pixels large(4000, 3000);
    std::memset(large.bytes.data(), 0x80, large.bytes.size());
    FrameSink sink;
    auto renderer = std::make_unique<PreviewRenderer>(large, sink.callback());
    renderer->post(LayerWith("2008-04-15 13:45", 3000));
    std::this_thread::sleep_for(20ms);
    for (int i = 0; i < 10; ++i) renderer->post(LayerWith("waiting " + std::to_string(i), 3000));
    const int finishedBefore = renderer->renderCount();
    renderer->stop();
    // The render in progress may finish, but it is the last; a frame is
    // handed out only by a render that finished before the stop.
    EXPECT_LE(renderer->renderCount(), finishedBefore + 1);
    EXPECT_LE(sink.frames(), finishedBefore + 1);
    const int frames = sink.frames();
    // Stopping again, and destroying, are harmless and render nothing.
    renderer->stop();
    renderer.reset();
    EXPECT_EQ(sink.frames(), frames);
}

TEST(PreviewRendererTest, StoppingAnIdleRendererEndsAtOnce) {
    const Pixels sample = SamplePhotograph();
    ASSERT_GT(sample.width, 0);
    FrameSink sink;
    PreviewRenderer renderer(sample, sink.callback());
    renderer.stop();
    EXPECT_EQ(renderer.renderCount(), 0);
    // A post after stopping renders nothing.
    renderer.post(LayerWith("late", 1000));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(sink.frames(), 0);
}

}  // namespace
