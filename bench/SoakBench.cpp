// tarn-soak [--minutes N]: the viewer's camera session (MainControl, the player, the frame provider with
// a surface, the V4L2 camera library) on the virtual UVC camera loaded into this process, for N minutes.
// Every 20 s the cable is pulled; once the watchdog has closed the session, at a moment drawn between 5
// and 6 s after the unplug (so that replugs fall all over the search's one-second tick), the camera is
// plugged back, as the next node. Every 45 s the camera stalls; it resumes as soon as the watchdog has
// closed the session. A fault that falls due while the picture is not back yet waits until it has been
// back for 5 s.
//
// At the end it prints the process's resident memory, threads and open descriptors after warm-up and at
// the end: read while the cable is out and the watchdog has closed the session, when neither the player
// nor the camera holds a picture (the player keeps up to four, 1.3 MB each at 640x512, as many as the
// session needed), at the first unplug and at the last; memory as the least of ten readings 50 ms apart,
// each after handing free heap back to the system, and of the first and the last three unplugs. Then the
// reconnects, and the time from a replug to the first picture presented (the surface's present time against
// the moment the plug went out), with the goals beside them. The global thread pool (the open worker, the
// property refresh) gets all its threads at the start and keeps them: its idle threads would otherwise come
// and go with its 30 s expiry and blur the figures.
#include "StampSurface.h"
#include "VirtualCameraBench.h"

#include "app/AppGlobals.h"
#include "camera/MainControl.h"
#include "camera/UVCCameraSDK.h"
#include "media/FFmpegThread.h"
#include "presentation/FameProvider.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QTextStream>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <malloc.h>
#include <vector>

using namespace VirtualCameraBench;

namespace {
constexpr qint64 Second = 1000000000;
constexpr qint64 UnplugEvery = 20 * Second;
constexpr qint64 StallEvery = 45 * Second;
constexpr qint64 PlugAfter = 5 * Second; // after the unplug, plus up to a second drawn each time
constexpr qint64 Settle = 5 * Second;    // picture back this long before a fault
constexpr int Readings = 10;             // one a tick, for each figure
constexpr qint64 GiveUp = 20 * Second;   // a reconnect not back by then counts as failed

constexpr qint64 GrowthGoalKb = 2048;
constexpr double BackGoalMs = 1500;

struct ProcessFigures
{
    qint64 rssKb = -1;
    QStringList threads;     // their names
    QStringList descriptors; // what each one is open on

    static ProcessFigures now()
    {
        ProcessFigures figures;
        ::malloc_trim(0); // free heap that the allocator keeps is no growth
        QFile status(QStringLiteral("/proc/self/status"));
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : status.readAll().split('\n')) {
                if (line.startsWith("VmRSS:"))
                    figures.rssKb = line.simplified().split(' ').value(1).toLongLong();
            }
        }
        const QDir tasks(QStringLiteral("/proc/self/task"));
        for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
            if (comm.open(QIODevice::ReadOnly))
                figures.threads << QString::fromUtf8(comm.readAll().trimmed());
        }
        // The listing holds one descriptor of its own while it reads; it is gone by the time the
        // targets are read, so it drops out.
        const QDir fds(QStringLiteral("/proc/self/fd"));
        for (const QString &fd : fds.entryList(QDir::System)) {
            const QString target = QFile::symLinkTarget(fds.filePath(fd));
            if (!target.isEmpty())
                figures.descriptors << target;
        }
        return figures;
    }

    // What later has more of than earlier, each with how many more: "vcam-frames x1".
    static QString added(QStringList earlier, const QStringList &later)
    {
        QStringList more;
        for (const QString &item : later) {
            if (!earlier.removeOne(item))
                more << item;
        }
        more.sort();
        QStringList counted;
        for (int at = 0; at < more.size();) {
            const int count = int(more.count(more[at]));
            counted << QStringLiteral("%1 x%2").arg(more[at]).arg(count);
            at += count;
        }
        return counted.join(QStringLiteral(", "));
    }
};

// What the run is doing now: the picture is live, or a fault is waiting for the session to close, or
// the camera is back and the picture is awaited.
enum class Phase
{
    Live,
    Unplugged,
    Stalled,
    AwaitingPicture
};

struct Soak
{
    qint64 startNs = 0;
    qint64 endNs = 0;
    Phase phase = Phase::AwaitingPicture;
    bool replug = false;       // what the awaited picture follows: a plug (true) or a resume
    qint64 faultNs = 0;        // when the current fault went out
    qint64 plugAtNs = 0;       // the earliest moment the cable goes back in
    QRandomGenerator draw{20}; // the same replug moments in every run
    qint64 backFromNs = 0;     // when the plug or resume went out
    bool late = false;         // the picture is not back within GiveUp (counted once, still awaited)
    qint64 liveSinceNs = -1;
    int readingsLeft = 0; // of the figures due while the session is closed
    qint64 nextUnplugNs = 0;
    qint64 nextStallNs = 0;

    int unplugs = 0;
    int stalls = 0;
    int reconnects = 0;
    int failed = 0;
    std::vector<double> replugMs;
    std::vector<double> resumeMs;
    std::vector<double> closedAfterMs; // fault to the watchdog closing the session
    std::vector<ProcessFigures> samples;

    void presented(qint64 at)
    {
        if (phase != Phase::AwaitingPicture)
            return;
        if (startNs > 0 && backFromNs > 0) {
            (replug ? replugMs : resumeMs).push_back((at - backFromNs) / 1e6);
            ++reconnects;
        }
        phase = Phase::Live;
        late = false;
        liveSinceNs = at;
    }

    void tick(qint64 now)
    {
        switch (phase) {
        case Phase::Live:
            if (now - liveSinceNs < Settle || now >= endNs)
                return;
            if (now >= nextUnplugNs && send("unplug")) {
                ++unplugs;
                startFault(Phase::Unplugged, now);
                while (nextUnplugNs <= now)
                    nextUnplugNs += UnplugEvery;
            } else if (now >= nextStallNs && send("stall")) {
                ++stalls;
                startFault(Phase::Stalled, now);
                while (nextStallNs <= now)
                    nextStallNs += StallEvery;
            }
            return;
        case Phase::Unplugged:
        case Phase::Stalled:
            if (UVC_CAMERA_UVCIsOpen())
                return;
            if (closedAfterMs.size() < size_t(unplugs + stalls))
                closedAfterMs.push_back((now - faultNs) / 1e6);
            if (phase == Phase::Unplugged && readingsLeft > 0) {
                const ProcessFigures reading = ProcessFigures::now();
                if (readingsLeft-- == Readings)
                    samples.push_back(reading);
                else
                    samples.back().rssKb = std::min(samples.back().rssKb, reading.rssKb);
                return;
            }
            if (phase == Phase::Unplugged && now < plugAtNs)
                return;
            replug = phase == Phase::Unplugged;
            backFromNs = now;
            send(replug ? "plug" : "resume");
            phase = Phase::AwaitingPicture;
            return;
        case Phase::AwaitingPicture:
            if (backFromNs > 0 && !late && now - backFromNs > GiveUp) {
                late = true;
                ++failed;
            }
            return;
        }
    }

    void startFault(Phase fault, qint64 now)
    {
        phase = fault;
        faultNs = now;
        plugAtNs = now + PlugAfter + qint64(draw.bounded(1000)) * 1000000;
        readingsLeft = fault == Phase::Unplugged ? Readings : 0;
    }
};

// Starts every thread the global pool may have and keeps them for the run.
void fillThreadPool()
{
    QThreadPool *pool = QThreadPool::globalInstance();
    pool->setExpiryTimeout(-1);
    const int threads = pool->maxThreadCount();
    QSemaphore arrived;
    QSemaphore leave;
    for (int started = 0; started < threads; ++started) {
        pool->start([&] {
            arrived.release();
            leave.acquire();
        });
    }
    arrived.acquire(threads); // each task holds a thread of its own
    leave.release(threads);
    while (pool->activeThreadCount() > 0)
        QThread::yieldCurrentThread();
}

double maxOf(const std::vector<double> &values)
{
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

QString ms(double value)
{
    return QString::number(value, 'f', 0) + QStringLiteral(" ms");
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarn-soak"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARN_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs the camera session on the virtual UVC camera for a while, pulling its cable every 20 s and "
        "stalling it every 45 s, and prints memory, threads, descriptors and reconnect times."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption minutesOption(QStringLiteral("minutes"),
                                           QStringLiteral("How long to run (default 10)."),
                                           QStringLiteral("N"), QStringLiteral("10"));
    parser.addOption(minutesOption);
    parser.process(app);
    bool isNumber = false;
    const double minutes = parser.value(minutesOption).toDouble(&isNumber);
    if (!isNumber || minutes < 1 || minutes > 24 * 60 || !parser.positionalArguments().isEmpty()) {
        QTextStream(stderr)
            << "tarn-soak: --minutes takes a number from 1 to 1440, and nothing else follows\n";
        return 2;
    }

    load(argv, "tarn-soak");
    qInstallMessageHandler(quietHandler);

    fillThreadPool();
    Soak soak;
    StampSurface surface;
    surface.onPresent = [&soak](qint64 presentedNs, qint64) {
        soak.presented(presentedNs);
    };
    frameProvider->setVideoSurface(&surface);

    auto control = std::make_unique<MainControl>();
    soak.startNs = steadyNs();
    soak.endNs = soak.startNs + qint64(minutes * 60) * Second;
    soak.nextUnplugNs = soak.startNs + UnplugEvery;
    soak.nextStallNs = soak.startNs + StallEvery;
    QMetaObject::invokeMethod(control.get(), "slotStartUVCConnect", Qt::DirectConnection);

    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        const qint64 now = steadyNs();
        soak.tick(now);
        // The run ends at the end time, once no fault is in the middle of its recovery.
        if (now >= soak.endNs && (soak.phase == Phase::Live || now >= soak.endNs + GiveUp))
            app.quit();
    });
    ticks.start(50);
    app.exec();

    QMetaObject::invokeMethod(control.get(), "slotEndUVCConnect", Qt::DirectConnection);
    control.reset();
    frameProvider->setVideoSurface(nullptr);
    removeControl();

    QTextStream out(stdout);
    out << "soak " << QString::number((steadyNs() - soak.startNs) / 60e9, 'f', 1) << " min: " << soak.unplugs
        << " unplugs, " << soak.stalls << " stalls\n";
    if (soak.samples.size() < 2) {
        out << "too short: fewer than two unplugs\n";
        return 1;
    }
    const ProcessFigures &first = soak.samples.front();
    const ProcessFigures &last = soak.samples.back();
    // Memory: the least of the first three points and of the last three, as what the session still
    // holds between closes wanders by a megabyte or two (search, allocator) without growing.
    const auto leastRss = [](auto from, auto to) {
        return std::min_element(
                   from, to,
                   [](const ProcessFigures &a, const ProcessFigures &b) { return a.rssKb < b.rssKb; })
            ->rssKb;
    };
    const size_t span = std::min<size_t>(3, soak.samples.size() / 2);
    const qint64 warmRss = leastRss(soak.samples.begin(), soak.samples.begin() + span);
    const qint64 endRss = leastRss(soak.samples.end() - span, soak.samples.end());
    const qint64 rssGrowth = endRss - warmRss;
    const int threadGrowth = int(last.threads.size() - first.threads.size());
    const int descriptorGrowth = int(last.descriptors.size() - first.descriptors.size());
    const double replugMax = maxOf(soak.replugMs);
    const bool allBack = soak.failed == 0 && soak.reconnects == soak.unplugs + soak.stalls;

    const auto row = [&out](const char *what, qint64 warm, qint64 end, const QString &goal) {
        out << QStringLiteral("%1 %2 %3 %4   %5\n")
                   .arg(QLatin1String(what), -18)
                   .arg(warm, 13)
                   .arg(end, 12)
                   .arg(end - warm, 8)
                   .arg(goal);
    };
    out << QStringLiteral("%1 %2 %3 %4   goal\n")
               .arg(QString(), -18)
               .arg(QStringLiteral("after warm-up"), 13)
               .arg(QStringLiteral("at the end"), 12)
               .arg(QStringLiteral("growth"), 8);
    row("resident memory kB", warmRss, endRss, QStringLiteral("<= %1").arg(GrowthGoalKb));
    row("threads", first.threads.size(), last.threads.size(), QStringLiteral("0"));
    row("open descriptors", first.descriptors.size(), last.descriptors.size(), QStringLiteral("0"));
    if (threadGrowth > 0)
        out << "  threads added: " << ProcessFigures::added(first.threads, last.threads) << '\n';
    if (descriptorGrowth > 0)
        out << "  descriptors added: " << ProcessFigures::added(first.descriptors, last.descriptors) << '\n';
    out << "  resident memory at each point (kB):";
    for (const ProcessFigures &sample : soak.samples)
        out << ' ' << sample.rssKb;
    out << '\n';
    out << "reconnects " << soak.reconnects << " of " << soak.unplugs + soak.stalls << " faults, "
        << soak.failed << " not back within " << GiveUp / Second << " s (goal: all back)\n";
    out << "replug to picture p50 " << ms(percentile(soak.replugMs, 50)) << ", max " << ms(replugMax)
        << " over " << soak.replugMs.size() << " (goal: max <= " << ms(BackGoalMs) << ")\n";
    out << "resume to picture p50 " << ms(percentile(soak.resumeMs, 50)) << ", max "
        << ms(maxOf(soak.resumeMs)) << " over " << soak.resumeMs.size() << "\n";
    out << "fault to session closed p50 " << ms(percentile(soak.closedAfterMs, 50)) << ", max "
        << ms(maxOf(soak.closedAfterMs)) << "\n";

    const bool met = rssGrowth <= GrowthGoalKb && threadGrowth <= 0 && descriptorGrowth <= 0 && allBack &&
                     replugMax <= BackGoalMs;
    out << (met ? "goals met\n" : "goals missed\n");
    return met ? 0 : 1;
}
