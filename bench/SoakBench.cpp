// tarn-soak [--minutes N]: the viewer's camera session (MainControl, the player, the frame provider with
// a surface, the V4L2 camera library) on the virtual UVC camera loaded into this process, for N minutes.
// Every 20 s the cable is pulled; once the watchdog has closed the session (and at least 5 s later) the
// camera is plugged back, as the next node. Every 45 s the camera stalls; it resumes as soon as the
// watchdog has closed the session. A fault that falls due while the picture is not back yet waits until
// it has been back for 5 s.
//
// At the end it prints the process's resident memory, threads and open descriptors after warm-up and at
// the end, each taken 5 s after the picture came back from a fault (the first such point after the first
// replug, and the last one of the run), the reconnects, and the time from a replug to the first picture
// presented (the surface's present time against the moment the plug went out), with the goals beside them.
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
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <vector>

using namespace VirtualCameraBench;

namespace {
constexpr qint64 Second = 1000000000;
constexpr qint64 UnplugEvery = 20 * Second;
constexpr qint64 StallEvery = 45 * Second;
constexpr qint64 PlugNoSoonerThan = 5 * Second; // after the unplug
constexpr qint64 Settle = 5 * Second;           // picture back this long before a figure or a fault
constexpr qint64 GiveUp = 20 * Second;          // a reconnect not back by then counts as failed

constexpr qint64 GrowthGoalKb = 2048;
constexpr double BackGoalMs = 1500;

struct ProcessFigures
{
    qint64 rssKb = -1;
    int threads = -1;
    int descriptors = -1;

    static ProcessFigures now()
    {
        ProcessFigures figures;
        QFile status(QStringLiteral("/proc/self/status"));
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : status.readAll().split('\n')) {
                const QList<QByteArray> words = line.simplified().split(' ');
                if (words.size() >= 2 && words[0] == "VmRSS:")
                    figures.rssKb = words[1].toLongLong();
                else if (words.size() >= 2 && words[0] == "Threads:")
                    figures.threads = words[1].toInt();
            }
        }
        // Less the one the listing itself holds open.
        figures.descriptors = int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::System).size()) - 1;
        return figures;
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
    bool replug = false;   // what the awaited picture follows: a plug (true) or a resume
    qint64 faultNs = 0;    // when the current fault went out
    qint64 backFromNs = 0; // when the plug or resume went out
    qint64 liveSinceNs = -1;
    bool sampled = true; // the figures were taken since the picture came back
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
        liveSinceNs = at;
        sampled = backFromNs == 0; // the first picture of the run is no fault's end
    }

    void tick(qint64 now)
    {
        switch (phase) {
        case Phase::Live:
            if (now - liveSinceNs < Settle || now >= endNs)
                return;
            if (!sampled) {
                samples.push_back(ProcessFigures::now());
                sampled = true;
            }
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
            if (phase == Phase::Unplugged && now - faultNs < PlugNoSoonerThan)
                return;
            replug = phase == Phase::Unplugged;
            backFromNs = now;
            send(replug ? "plug" : "resume");
            phase = Phase::AwaitingPicture;
            return;
        case Phase::AwaitingPicture:
            if (backFromNs > 0 && now - backFromNs > GiveUp) {
                ++failed;
                backFromNs = now; // counted once; keep waiting
            }
            return;
        }
    }

    void startFault(Phase fault, qint64 now)
    {
        phase = fault;
        faultNs = now;
    }
};

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
        out << "too short: no two figures 5 s after a reconnect\n";
        return 1;
    }
    const ProcessFigures &first = soak.samples.front();
    const ProcessFigures &last = soak.samples.back();
    const qint64 rssGrowth = last.rssKb - first.rssKb;
    const int threadGrowth = last.threads - first.threads;
    const int descriptorGrowth = last.descriptors - first.descriptors;
    const double replugMax =
        soak.replugMs.empty() ? 0 : *std::max_element(soak.replugMs.begin(), soak.replugMs.end());
    const double resumeMax =
        soak.resumeMs.empty() ? 0 : *std::max_element(soak.resumeMs.begin(), soak.resumeMs.end());
    const bool allBack = soak.failed == 0 && soak.reconnects == soak.unplugs + soak.stalls;

    out << "                     after warm-up   at the end   growth      goal\n";
    out << QStringLiteral("resident memory      %1 kB   %2 kB   %3 kB   <= %4 kB\n")
               .arg(first.rssKb, 9)
               .arg(last.rssKb, 9)
               .arg(rssGrowth, 6)
               .arg(GrowthGoalKb);
    out << QStringLiteral("threads              %1      %2      %3      0\n")
               .arg(first.threads, 9)
               .arg(last.threads, 9)
               .arg(threadGrowth, 6);
    out << QStringLiteral("open descriptors     %1      %2      %3      0\n")
               .arg(first.descriptors, 9)
               .arg(last.descriptors, 9)
               .arg(descriptorGrowth, 6);
    out << "reconnects " << soak.reconnects << " of " << soak.unplugs + soak.stalls << " faults, "
        << soak.failed << " not back within " << GiveUp / Second << " s (goal: all back)\n";
    out << "replug to picture p50 " << ms(percentile(soak.replugMs, 50)) << ", max " << ms(replugMax)
        << " over " << soak.replugMs.size() << " (goal: max <= " << ms(BackGoalMs) << ")\n";
    out << "resume to picture p50 " << ms(percentile(soak.resumeMs, 50)) << ", max " << ms(resumeMax)
        << " over " << soak.resumeMs.size() << "\n";
    out << "fault to session closed p50 " << ms(percentile(soak.closedAfterMs, 50)) << ", max "
        << ms(soak.closedAfterMs.empty()
                  ? 0
                  : *std::max_element(soak.closedAfterMs.begin(), soak.closedAfterMs.end()))
        << "\n";

    const bool met = rssGrowth <= GrowthGoalKb && threadGrowth <= 0 && descriptorGrowth <= 0 && allBack &&
                     replugMax <= BackGoalMs;
    out << (met ? "goals met\n" : "goals missed\n");
    return met ? 0 : 1;
}
