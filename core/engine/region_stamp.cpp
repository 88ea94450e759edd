// The region stamp: the source's coefficients are read once; the MCUs under
// the stamp and one MCU around them are decoded band by band straight from
// those coefficients, painted and encoded again with the picture's tables.
// The margin gives the chroma upsampler the neighbouring samples that it
// reads in a full decode, so the touched MCUs decode to exactly the pixels
// of the full picture. That work runs on a thread of its own while the
// destination is written; the encoder waits for it only when it reaches
// the stamp's rows.
#include "engine/region_stamp.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "engine/block_feed.h"
#include "engine/engine.h"
#include "engine/jpeg_support.h"
#include "engine/reverse_marker.h"
#include "engine/stamp_steps.h"
#include "platform/files.h"

namespace mk::engine {
namespace {

struct FileCloser {
    void operator()(FILE *file) const noexcept { std::fclose(file); }
};

// Data source that reads the file piece by piece, so the source's bytes are
// never held whole beside its coefficients. As with MemorySource, data that
// ends early is an error.
struct FileSource {
    jpeg_source_mgr pub;
    FILE *file;
    SourcePlace place;  // of the buffer, in the file
    size_t filled;      // bytes read into the buffer last
    JOCTET buffer[1 << 16];
};

void InitFileSource(j_decompress_ptr) {}
void TermFileSource(j_decompress_ptr) {}

boolean FillFileBuffer(j_decompress_ptr info) {
    auto *source = reinterpret_cast<FileSource *>(info->src);
    const size_t got = std::fread(source->buffer, 1, sizeof source->buffer, source->file);
    if (got == 0) ERREXIT(info, JERR_INPUT_EOF);
    source->place.offset += source->filled;
    source->filled = got;
    source->pub.next_input_byte = source->buffer;
    source->pub.bytes_in_buffer = got;
    return TRUE;
}

void SkipFileData(j_decompress_ptr info, long count) {
    if (count <= 0) return;
    jpeg_source_mgr *source = info->src;
    auto left = static_cast<size_t>(count);
    while (left > source->bytes_in_buffer) {
        left -= source->bytes_in_buffer;
        (*source->fill_input_buffer)(info);
    }
    source->next_input_byte += left;
    source->bytes_in_buffer -= left;
}

void AttachFileSource(j_decompress_ptr info, FileSource *source, FILE *file) {
    source->pub.init_source = InitFileSource;
    source->pub.fill_input_buffer = FillFileBuffer;
    source->pub.skip_input_data = SkipFileData;
    source->pub.resync_to_restart = jpeg_resync_to_restart;
    source->pub.term_source = TermFileSource;
    source->pub.next_input_byte = nullptr;
    source->pub.bytes_in_buffer = 0;
    source->file = file;
    source->place = SourcePlace{source->buffer, 0};
    source->filled = 0;
    info->src = &source->pub;
    WatchSource(info, &source->place);
}

// The file's size in bytes, leaving it positioned at its start.
bool MeasureFile(FILE *file, size_t *size) {
    if (std::fseek(file, 0, SEEK_END) != 0) return false;
    const long end = std::ftell(file);
    if (end < 0 || std::fseek(file, 0, SEEK_SET) != 0) return false;
    *size = static_cast<size_t>(end);
    return true;
}

// Runs a piece of work beside the caller (inline where no thread can
// start) and tells when it is done. Joins the thread when it goes. The
// work is a plain function and its context: it is started where recovery
// points are armed.
class RegionWorker {
  public:
    RegionWorker() = default;
    RegionWorker(const RegionWorker &) = delete;
    RegionWorker &operator=(const RegionWorker &) = delete;
    ~RegionWorker() {
        if (thread_.joinable()) thread_.join();
    }

    using Work = int32_t (*)(void *context);

    void Start(Work work, void *context) {
        try {
            thread_ = std::thread([this, work, context] { Finish(Run(work, context)); });
        } catch (const std::system_error &) {
            Finish(Run(work, context));
        }
    }

    // Waits until the work is done; its result. Called from the encoder's
    // hooks inside the library, so nothing may be thrown.
    int32_t Wait() noexcept {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return done_; });
        return result_;
    }

  private:
    static int32_t Run(Work work, void *context) {
        try {
            return work(context);
        } catch (const std::bad_alloc &) {
            return kNoMemory;
        } catch (...) {
            return kLibraryFailed;
        }
    }

    void Finish(int32_t result) {
        {
            const std::lock_guard lock(mutex_);
            result_ = result;
            done_ = true;
        }
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;
    int32_t result_ = kOk;
    std::thread thread_;
};

// Everything one region stamp owns, outside the functions that arm the
// recovery points.
struct RegionJob {
    StampWork work;
    const RegionPainter *painter = nullptr;
    bool restoreEarlier = false;
    std::vector<uint8_t> earlierMarker;
    MemorySource earlierInput{};
    Decompressor earlierBlocks;
    std::unique_ptr<FILE, FileCloser> sourceFile;
    size_t sourceSize = 0;
    FileSource sourceInput{};

    // The decoded region in whole MCUs (both ends included) and in pixels.
    JDIMENSION firstMcuRow = 0, lastMcuRow = 0, firstMcuColumn = 0, lastMcuColumn = 0;
    PixelBox region{};
    ByteBuffer regionHeader;
    MemorySource regionInput{};
    BlockFeed regionFeed;
    ByteBuffer band;  // a band of decoded rows, bottom row first

    Decompressor regionReader;
    // What the worker works on.
    jvirt_barray_ptr *sourceCoefficients = nullptr;
    int32_t width = 0, height = 0;

    // The painted rectangle, worked out on a thread of its own while the
    // coefficients are read (rendering the stamp means loading the font
    // catalogue and the font). Last, so it is waited for before anything
    // it uses goes.
    std::future<MK_Rect> placement;
    // The stamp's blocks, made while the destination's encoder writes the
    // rows above them; its messages go to regionErrorText. Last, so it is
    // joined before anything it uses goes.
    char regionErrorText[kErrorTextSize] = "";
    RegionWorker worker;
};

// Starts working out the painted rectangle beside the caller; where no
// thread can be started, the work waits until the rectangle is asked for.
void StartPlacement(RegionJob *job, int32_t width, int32_t height) {
    const RegionPainter *painter = job->painter;
    auto place = [painter, width, height] { return painter->paintedRect(width, height); };
    try {
        job->placement = std::async(std::launch::async, place);
    } catch (const std::system_error &) {
        job->placement = std::async(std::launch::deferred, place);
    }
}

// The painted rectangle; an empty one when working it out failed.
MK_Rect AwaitPlacement(RegionJob *job) {
    try {
        return job->placement.get();
    } catch (...) {
        return MK_Rect{1, 1, 0, 0};
    }
}

// The crop's MCUs grown by one MCU on every side that lies inside the
// picture.
void PlanRegion(RegionJob *job) {
    j_decompress_ptr src = job->work.source.get();
    const JDIMENSION mcuWidth = 8 * static_cast<JDIMENSION>(src->max_h_samp_factor);
    const JDIMENSION mcuHeight = 8 * static_cast<JDIMENSION>(src->max_v_samp_factor);
    const JDIMENSION mcuColumns = (src->image_width + mcuWidth - 1) / mcuWidth;
    const JDIMENSION mcuRows = (src->image_height + mcuHeight - 1) / mcuHeight;
    const StampWork &work = job->work;
    job->firstMcuColumn = work.firstMcuColumn > 0 ? work.firstMcuColumn - 1 : 0;
    job->lastMcuColumn = std::min(work.lastMcuColumn + 1, mcuColumns - 1);
    job->firstMcuRow = work.firstMcuRow > 0 ? work.firstMcuRow - 1 : 0;
    job->lastMcuRow = std::min(work.lastMcuRow + 1, mcuRows - 1);
    PixelBox &region = job->region;
    region.x = job->firstMcuColumn * mcuWidth;
    region.y = job->firstMcuRow * mcuHeight;
    region.width = std::min(src->image_width, (job->lastMcuColumn + 1) * mcuWidth) - region.x;
    region.height = std::min(src->image_height, (job->lastMcuRow + 1) * mcuHeight) - region.y;
}

// A progressive picture whose scans leave one of the low coefficients
// unrefined is smoothed across blocks by the decoder; a region decode of
// the sequential crop would not be.
bool DecoderWouldSmooth(j_decompress_ptr info) {
    if (!info->progressive_mode || info->coef_bits == nullptr) return false;
    for (int c = 0; c < info->num_components; ++c)
        for (int k = 0; k < 10; ++k)
            if (info->coef_bits[c][k] != 0) return true;
    return false;
}

// Starts decoding the region with the decoder's defaults (those of
// ReadJpegFile): a header describes the region as a JPEG of its own, and
// its blocks come straight from the source's coefficients. They are the
// source's quantised coefficients, absolute values rather than
// differences, so the region decodes as a crop of the picture would,
// wherever it starts.
int32_t StartRegionDecoder(RegionJob *job, jvirt_barray_ptr *sourceCoefficients) {
    j_decompress_ptr src = job->work.source.get();
    char *errorText = job->work.errorText;
    const PixelBox &region = job->region;
    // Where the region reaches the picture's right or bottom edge, its size
    // ends there too, so its last MCUs keep the picture's partial ones.
    if (!WritePartHeader(src, region.width, region.height, &job->regionHeader))
        return Refuse(errorText, kLibraryFailed, "Region cannot be decoded on its own");

    job->regionReader.Create(errorText);
    j_decompress_ptr reader = job->regionReader.get();
    AttachMemorySource(reader, &job->regionInput, job->regionHeader.data(),
                       job->regionHeader.size());
    jpeg_read_header(reader, TRUE);
    // Without the source's own segments the header could suggest another
    // colour space than the one the source's decoder settled on.
    reader->jpeg_color_space = src->jpeg_color_space;
    reader->out_color_space = JCS_EXT_BGRX;
    jpeg_start_decompress(reader);
    if (reader->output_width != region.width || reader->output_height != region.height ||
        reader->output_components != 4)
        return Refuse(errorText, kLibraryFailed, "Decoded region does not fit the picture");
    JDIMENSION firstRow[MAX_COMPONENTS], firstColumn[MAX_COMPONENTS];
    JDIMENSION rows[MAX_COMPONENTS], columns[MAX_COMPONENTS];
    const JDIMENSION mcuColumns = job->lastMcuColumn - job->firstMcuColumn + 1;
    const JDIMENSION mcuRows = job->lastMcuRow - job->firstMcuRow + 1;
    for (int c = 0; c < src->num_components; ++c) {
        const jpeg_component_info &component = src->comp_info[c];
        const auto h = static_cast<JDIMENSION>(component.h_samp_factor);
        const auto v = static_cast<JDIMENSION>(component.v_samp_factor);
        firstRow[c] = job->firstMcuRow * v;
        firstColumn[c] = job->firstMcuColumn * h;
        rows[c] = mcuRows * v;
        columns[c] = mcuColumns * h;
    }
    job->regionFeed.Attach(reader, sourceCoefficients, firstRow, firstColumn, rows, columns);
    return kOk;
}

// Decodes the region band by band down to the crop's last row, paints each
// band and hands the crop's rows to the encoder, so only a band of pixels
// is ever held. The decoder reads the rows below a band itself where its
// upsampling needs them.
int32_t PaintAndEncodeRegion(RegionJob *job, int32_t width, int32_t height) {
    StampWork *work = &job->work;
    j_decompress_ptr reader = job->regionReader.get();
    const PixelBox &region = job->region;
    const PixelBox &crop = work->crop;
    if (crop.x < region.x || crop.y < region.y || crop.x + crop.width > region.x + region.width ||
        crop.y + crop.height > region.y + region.height)
        return Refuse(work->errorText, kLibraryFailed, "Painted pixels do not cover the stamp");
    const size_t stride = static_cast<size_t>(region.width) * 4;
    const JDIMENSION bandRows = 8 * static_cast<JDIMENSION>(work->source.get()->max_v_samp_factor);
    if (!job->band.Resize(stride * bandRows))
        return Refuse(work->errorText, kNoMemory, "Not enough memory");
    if (const int32_t started = StartCropEncoder(work); started != kOk) return started;
    const JDIMENSION lines = crop.y + crop.height - region.y;
    while (reader->output_scanline < lines) {
        const JDIMENSION first = reader->output_scanline;
        const JDIMENSION count = std::min(bandRows, lines - first);
        // Band row i from the top is memory row count - 1 - i.
        while (reader->output_scanline < first + count) {
            JSAMPROW row =
                job->band.data() + stride * (count - 1 - (reader->output_scanline - first));
            jpeg_read_scanlines(reader, &row, 1);
        }
        const JDIMENSION bandY = region.y + first;
        if (bandY + count <= crop.y) continue;
        job->painter->paint(job->band.data(), static_cast<int32_t>(region.x),
                            static_cast<int32_t>(bandY), static_cast<int32_t>(region.width),
                            static_cast<int32_t>(count), width, height);
        for (JDIMENSION i = 0; i < count; ++i)
            if (bandY + i >= crop.y)
                WriteCropRow(work, job->band.data() + stride * (count - 1 - i) +
                                       static_cast<size_t>(crop.x - region.x) * 4);
    }
    FinishCropEncoder(work);
    // The rows below the crop are never read.
    job->regionReader.Destroy();
    job->regionHeader.Reset();
    job->band.Reset();
    if (job->painter->finished) job->painter->finished();
    return kOk;
}

// The region's part, on the worker: decode, paint, encode the crop and put
// its blocks into the source's coefficients. Library failures of the
// worker's own objects jump back here.
int32_t RunRegionWork(void *context) {
    auto *job = static_cast<RegionJob *>(context);
    StampWork *work = &job->work;
    jvirt_barray_ptr *sourceCoefficients = job->sourceCoefficients;
    // No frame that a failure leaves from here on holds an object with a destructor.
    if (setjmp(work->encoder.error.recovery)) return FailureCodeOf(work->encoder.error);
    if (setjmp(job->regionReader.error.recovery)) return FailureCodeOf(job->regionReader.error);
    if (const int32_t started = StartRegionDecoder(job, sourceCoefficients); started != kOk)
        return started;
    if (const int32_t painted = PaintAndEncodeRegion(job, job->width, job->height); painted != kOk)
        return painted;
    return PlaceCropBlocks(work, sourceCoefficients);
}

// The destination's gate: the encoder may read the rows of a component
// down to the stamp's first once the worker has put the stamp's blocks in.
void AwaitStampRows(void *context, int component, JDIMENSION endRow) noexcept {
    auto *job = static_cast<RegionJob *>(context);
    if (endRow > job->work.touched[component].firstRow) job->worker.Wait();
}

// Library failures of the source and the destination jump back here.
int32_t RunRegionStamp(RegionJob *job) {
    StampWork *work = &job->work;
    char *errorText = work->errorText;
    // No frame that a failure leaves from here on holds an object with a destructor.
    if (setjmp(work->source.error.recovery)) return FailureCodeOf(work->source.error);
    if (setjmp(work->destination.error.recovery)) return FailureCodeOf(work->destination.error);
    // As for an undo: a marker whose stream the library cannot read.
    if (setjmp(job->earlierBlocks.error.recovery)) return kLibraryFailed;

    work->source.Create(errorText);
    j_decompress_ptr src = work->source.get();
    AttachFileSource(src, &job->sourceInput, job->sourceFile.get());
    LimitCoefficientMemory(src, job->sourceSize);
    SaveAllSegments(src);
    jpeg_read_header(src, TRUE);
    const auto width = static_cast<int32_t>(src->image_width);
    const auto height = static_cast<int32_t>(src->image_height);
    if (width <= 0 || height <= 0)
        return Refuse(errorText, kLibraryFailed, "Picture has no pixels");
    // The overlay is placed from the picture's size alone, so the touched
    // blocks are known before any pixel is decoded.
    StartPlacement(job, width, height);
    jvirt_barray_ptr *sourceCoefficients = jpeg_read_coefficients(src);
    // Everything the source holds is in memory now, so the destination may
    // be the same file.
    job->sourceFile.reset();
    AttachMemorySource(src, &work->sourceInput, nullptr, 0);
    if (const int32_t damaged = RefuseIfDamaged(work->source.error, errorText); damaged != kOk)
        return damaged;
    if (job->restoreEarlier) {
        if (const int32_t restored =
                RestoreFormerBlocks(src, sourceCoefficients, &job->earlierBlocks,
                                    &job->earlierMarker, &job->earlierInput, errorText);
            restored != kOk)
            return restored;
        work->dropEarlierMarker = true;
    }
    const MK_Rect painted = AwaitPlacement(job);
    if (painted.left > painted.right || painted.top > painted.bottom)
        return Refuse(errorText, kNothingPainted, "Nothing to stamp");
    if (const int32_t checked = CheckSource(work, sourceCoefficients); checked != kOk)
        return checked;
    if (DecoderWouldSmooth(src))
        return Refuse(errorText, kNeedsFullDecode, "Picture needs a full decode");
    work->rect = StampRect{painted.left, height - painted.bottom - 1, painted.right,
                           height - painted.top - 1};
    if (const int32_t planned = PlanStamp(work); planned != kOk) return planned;
    PlanRegion(job);
    // Before any block is replaced; the marker's size must be known before
    // the destination's scan starts.
    if (const int32_t saved = SaveFormerBlocks(work, sourceCoefficients); saved != kOk)
        return saved;

    // From here the worker makes the stamp's blocks while this thread
    // writes the destination; the encoder waits at the first row of each
    // component that the stamp touches until they are in. The worker's
    // steps report to a text of their own.
    work->errorText = job->regionErrorText;
    job->sourceCoefficients = sourceCoefficients;
    job->width = width;
    job->height = height;
    job->worker.Start(RunRegionWork, job);
    int32_t written = StartDestination(work, sourceCoefficients, errorText,
                                       CrcWhileWriting::Gate{AwaitStampRows, job});
    if (written == kOk) written = FinishDestination(work, errorText);
    const int32_t region = job->worker.Wait();
    work->errorText = errorText;
    if (region != kOk) {
        SetErrorText(errorText, "%s", job->regionErrorText);
        return region;
    }
    if (written != kOk) return written;
    jpeg_finish_decompress(src);
    return kOk;
}

}  // namespace

int32_t StampRegion(const char *source, const char *destination, const RegionPainter &painter,
                    int32_t keepUndo, char *errorText, CoefficientMemory *memory,
                    const DiskWaitNotice &diskWait, bool restoreEarlier) {
    ClearErrorText(errorText);
    if (source == nullptr || destination == nullptr) return kCannotOpen;
    if (!painter.paintedRect || !painter.paint)
        return Refuse(errorText, kLibraryFailed, "No painter");
    try {
        auto job = std::make_unique<RegionJob>();
        job->painter = &painter;
        job->restoreEarlier = restoreEarlier;
        job->work.destinationPath = destination;
        job->work.keepUndo = keepUndo != 0;
        job->work.captureCrop = true;
        job->work.errorText = errorText;
        job->work.source.arrays.UseMemory(memory);
        job->sourceFile.reset(platform::OpenRegularStream(source).release());
        if (!job->sourceFile || !MeasureFile(job->sourceFile.get(), &job->sourceSize)) {
            SetErrorText(errorText, "can't open %s", source);
            return kCannotOpen;
        }
        const int32_t result = RunRegionStamp(job.get());
        if (result != kOk) return result;
        // The coefficients go back to `memory` before the wait for the disk,
        // for the next picture to have them.
        platform::AtomicFile output = std::move(job->work.output);
        job.reset();
        return CommitOutput(output, destination, errorText, diskWait);
    } catch (const std::bad_alloc &) {
        return Refuse(errorText, kNoMemory, "Not enough memory");
    } catch (...) {
        return Refuse(errorText, kLibraryFailed, "Unexpected failure");
    }
}

}  // namespace mk::engine
