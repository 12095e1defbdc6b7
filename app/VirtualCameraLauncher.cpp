#include "app/VirtualCameraLauncher.h"

#include "app/CommandLine.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

QStringList argumentList(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

// The first place that holds the library, as seen from the folder of this program.
QString findLibrary(const QString &programDir)
{
    const QString installed =
        QStringLiteral("%1/../%2/libtarn-vcam.so").arg(programDir, TARN_VCAM_INSTALL_DIR);
    const QString built = programDir + QStringLiteral("/../lib/libtarn-vcam.so");
    for (const QString &path : {installed, built}) {
        if (QFileInfo(path).isFile())
            return QFileInfo(path).canonicalFilePath();
    }
    return QString();
}

int fail(const QString &program, const QString &text)
{
    std::fputs(qPrintable(QStringLiteral("%1: %2\n").arg(program, text)), stderr);
    return 1;
}

} // namespace

int VirtualCameraLauncher::run(int argc, char *argv[], const char *summary)
{
    QCoreApplication::setApplicationVersion(QStringLiteral(TARN_VERSION));
    const QStringList arguments = argumentList(argc, argv);
    if (viewerCommandLineNeedsAnswer(arguments)) {
        QCoreApplication core(argc, argv);
        const ViewerCommandLine command = readViewerCommandLine(core.arguments(), QString::fromUtf8(summary));
        const QByteArray text = command.text.toLocal8Bit();
        if (command.action == ViewerCommandLine::Reject) {
            std::fputs(text.constData(), stderr);
            return kBadCommandLineExitCode;
        }
        std::fputs(text.constData(), stdout);
        return 0;
    }

    const QString program = QFileInfo(arguments.value(0)).fileName();
    const QFileInfo self(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget());
    const QString library = findLibrary(self.path());
    if (library.isEmpty())
        return fail(program, QStringLiteral("the virtual camera library libtarn-vcam.so is not installed "
                                            "beside %1")
                                 .arg(self.path()));
    // The dynamic loader splits LD_PRELOAD at blanks and colons.
    if (library.contains(QLatin1Char(' ')) || library.contains(QLatin1Char(':')))
        return fail(program,
                    QStringLiteral("cannot preload '%1': its path has a blank or a colon").arg(library));

    QByteArray preload = QFile::encodeName(library);
    if (!qEnvironmentVariableIsEmpty("LD_PRELOAD"))
        preload += ':' + qgetenv("LD_PRELOAD");
    qputenv("LD_PRELOAD", preload);
#if defined(__SANITIZE_ADDRESS__)
    // The library comes before the sanitizer's runtime in the load order of an instrumented viewer.
    qputenv("ASAN_OPTIONS", qgetenv("ASAN_OPTIONS") + ":verify_asan_link_order=0");
#endif

    // argv[0] stays as it was: the viewer names itself (window class, messages) after this program.
    const QByteArray viewer = QFile::encodeName(self.path() + QStringLiteral("/tarn-player"));
    ::execv(viewer.constData(), argv);
    return fail(program, QStringLiteral("cannot start %1: %2")
                             .arg(QFile::decodeName(viewer), QString::fromLocal8Bit(std::strerror(errno))));
}
