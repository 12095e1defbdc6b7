// tarn-thermal-bench [SECONDS]: the temperature reader's work per split frame, on 256x384 YUYV frames of
// the virtual camera's scene (its temperatures, as the camera sends them), for SECONDS of frames at
// 25 fps (default 60). Prints the CPU seconds the reader takes per second of frames (goal <= 0.01) and
// the allocations per frame (goal 0), counted by the malloc family and operator new replaced below.
// A second run hands each picture to a receiver on the main thread, as the window's session does:
// Qt's queued call costs allocations of its own, printed apart.
#include "media/AvPointers.h"
#include "thermal/ThermalReader.h"
#include "ThermalScene.h"

#include <QCoreApplication>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>
#include <vector>

// --- allocation counting: every malloc of the process while `counting` is on
namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
void count()
{
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
}
} // namespace

#ifdef TARN_COUNT_MALLOC
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *__libc_memalign(size_t, size_t);
void *malloc(size_t size)
{
    count();
    return __libc_malloc(size);
}
void *calloc(size_t n, size_t size)
{
    count();
    return __libc_calloc(n, size);
}
void *realloc(void *p, size_t size)
{
    count();
    return __libc_realloc(p, size);
}
int posix_memalign(void **out, size_t alignment, size_t size)
{
    count();
    *out = __libc_memalign(alignment, size);
    return *out ? 0 : ENOMEM;
}
void *aligned_alloc(size_t alignment, size_t size)
{
    count();
    return __libc_memalign(alignment, size);
}
void *memalign(size_t alignment, size_t size)
{
    count();
    return __libc_memalign(alignment, size);
}
}
#endif

void *operator new(size_t size)
{
#ifndef TARN_COUNT_MALLOC
    count(); // malloc below is counted itself when replaced
#endif
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void *p) noexcept
{
    std::free(p);
}
void operator delete(void *p, size_t) noexcept
{
    std::free(p);
}

namespace {
double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// A second of the scene's frames: the picture in the top half (white-hot), the temperatures below.
std::vector<av::FramePtr> sceneFrames(int count)
{
    constexpr int width = 256, height = 192;
    ThermalScene scene;
    scene.setRadiometric(true);
    scene.setSize(width, height, false);
    std::vector<av::FramePtr> frames;
    for (int i = 0; i < count; ++i) {
        av::FramePtr frame(av_frame_alloc());
        frame->format = AV_PIX_FMT_YUYV422;
        frame->width = width;
        frame->height = 2 * height;
        if (av_frame_get_buffer(frame.get(), 0) < 0)
            std::abort();
        uint8_t *data = frame->data[0];
        const size_t stride = size_t(frame->linesize[0]);
        ThermalScene::View view;
        view.seconds = i / 25.0;
        view.grain = uint32_t(i);
        scene.render(view, {data, data + 1, data + 3, stride, stride, 2, 4});
        scene.renderKelvin(data + stride * height, stride);
        frames.push_back(std::move(frame));
    }
    return frames;
}

struct Figures
{
    double cpuPerSecond;
    double allocationsPerFrame;
};

Figures run(ThermalReader &reader, const std::vector<av::FramePtr> &frames, int count, bool drainEvents)
{
    const FrameTap::Facts facts;
    allocations = 0;
    counting = true;
    const double start = threadCpuSeconds();
    for (int i = 0; i < count; ++i) {
        reader.tapFrame(*frames[size_t(i) % frames.size()], facts);
        if (drainEvents)
            QCoreApplication::processEvents(); // the receiver takes the picture and lets it go
    }
    const double cpu = threadCpuSeconds() - start;
    counting = false;
    return {cpu / count * 25.0, double(allocations.load()) / count};
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    if (seconds < 1 || seconds > 3600) {
        std::fprintf(stderr, "tarn-thermal-bench: SECONDS is 1 to 3600\n");
        return 2;
    }
    const int count = seconds * 25;
    const std::vector<av::FramePtr> frames = sceneFrames(25);

    ThermalReader reader;
    reader.pinSpot(10, 10);
    run(reader, frames, 25, false); // the first frame sizes the buffers and the pool
    QCoreApplication::processEvents();
    const Figures alone = run(reader, frames, count, false);

    QObject receiver;
    long pictures = 0;
    QObject::connect(
        &reader, &ThermalReader::pictureReady, &receiver,
        [&pictures](const QImage &picture) { pictures += picture.isNull() ? 0 : 1; }, Qt::QueuedConnection);
    const Figures received = run(reader, frames, count, true);

    std::printf("frames: %d (256x384 YUYV split, %d s at 25 fps)\n", count, seconds);
    std::printf("reader: %.4f CPU-s per s (goal <= 0.01), %.3f allocations per frame (goal 0)\n",
                alone.cpuPerSecond, alone.allocationsPerFrame);
    std::printf("with a queued picture receiver: %.4f CPU-s per s, %.3f allocations per frame (Qt's "
                "queued call), %ld pictures received\n",
                received.cpuPerSecond, received.allocationsPerFrame, pictures);
    return alone.cpuPerSecond <= 0.01 && alone.allocationsPerFrame == 0 ? 0 : 1;
}
