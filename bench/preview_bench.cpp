// The desktop program's previews: how long one re-render of the sample
// photograph takes (what the render thread does for every change: a fresh
// copy of the photograph, the layer scaled to it, the stamp drawn and
// blended), and one drawing of the strip (fitting the text, then drawing
// it), each beside decoding the same sample photograph with the core in the
// same run. The goal for a re-render is under 30 ms.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "MK_Core.h"
#include "stamp_sample.h"

using mk::app::Pixels;

namespace {

using Clock = std::chrono::steady_clock;

template <typename Work>
double MedianMilliseconds(int runs, Work &&work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

Setts Defaults() {
    Setts record;
    MK_SettsLoadDefaults(&record);
    return record;
}

}  // namespace

int main(int argc, char **argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 51;
    std::ifstream file(MK_SAMPLE_JPEG, std::ios::binary);
    const std::vector<char> data((std::istreambuf_iterator<char>(file)),
                                 std::istreambuf_iterator<char>());
    int32_t width = 0;
    int32_t height = 0;
    if (data.empty() ||
        MK_DecodeJPEG(data.data(), int32_t(data.size()), nullptr, &width, &height) != 0) {
        std::fprintf(stderr, "preview_bench: cannot read the sample photograph\n");
        return 1;
    }
    Pixels sample(width, height);
    const double decode = MedianMilliseconds(runs, [&] {
        MK_DecodeJPEG(data.data(), int32_t(data.size()), sample.bytes.data(), &width, &height);
    });

    struct Case {
        const char *name;
        Setts record;
    };
    std::vector<Case> cases;
    cases.push_back({"defaults", Defaults()});
    Setts large = Defaults();
    large.fontSize = 3000;
    large.flags |= FLAG_BACKGROUND | FLAG_ROUND_CORNERS;
    large.backgroundOpacity = 60;
    std::strcpy(large.timePicture, "HH:mm:ss");
    large.useSeconds = 1;
    cases.push_back({"large text, date and time, rounded box", large});
    Setts full = Defaults();
    full.flags |= FLAG_BACKGROUND | FLAG_FULL_WIDTH;
    full.backgroundOpacity = 80;
    cases.push_back({"full-width box", full});

    const MK_SystemTime time{2008, 4, 2, 15, 13, 45, 9, 0};
    std::printf("preview_bench: sample photograph %d x %d, median of %d runs\n", width, height,
                runs);
    std::printf("reference: decoding the sample with the core %.2f ms\n\n", decode);
    std::printf("%-42s %12s %8s %10s %12s\n", "settings", "re-render", "goal", "/ decode", "strip");
    bool met = true;
    for (const Case &c : cases) {
        char text[256];
        mk::app::StampText(c.record, time, text);
        const OverlayLayer layer = mk::app::LayerFromSetts(c.record, text);
        const double render = MedianMilliseconds(runs, [&] {
            Pixels frame = sample;
            OverlayLayer scaled = layer;
            mk::app::ScaleToPicture(scaled, frame.width, frame.height);
            mk::app::Stamp(frame, scaled);
        });
        Pixels strip(360, 66);
        const double stripTime = MedianMilliseconds(runs, [&] {
            Pixels work = strip;
            mk::app::Stamp(work, mk::app::StripLayer(layer, work.width, work.height));
        });
        met = met && render < 30.0;
        std::printf("%-42s %9.2f ms %5s ms %10.2f %9.2f ms\n", c.name, render, "< 30",
                    render / decode, stripTime);
    }
    std::printf("\nre-render goal (< 30 ms): %s\n", met ? "met" : "NOT met");
    return 0;
}
