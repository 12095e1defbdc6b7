#include "app/Application.h"

#include "app/AppGlobals.h"
#include "app/CommandLine.h"
#include "app/QmlTypes.h"
#include "capture/CameraListing.h"
#include "presentation/FameProvider.h"
#include "presentation/RenderRoad.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QUrl>

#include <cstdio>
#include <mutex>
#include <vector>

namespace {

// The process-wide objects are made during static initialisation, and the player logs there which
// FFmpeg it runs on. Such messages are held back until the command line is read: they are printed
// when the window starts, and dropped when the program only answers --help, --version or a command
// line it does not understand, whose answer is all that it prints.
class StartupMessages
{
public:
    StartupMessages() { previous = qInstallMessageHandler(&StartupMessages::hold); }

    // Stops holding; prints what was held when PRINT is true.
    static void release(bool print)
    {
        std::vector<Held> messages;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (!holding)
                return;
            holding = false;
            messages.swap(held());
            qInstallMessageHandler(previous);
        }
        if (!print)
            return;
        for (const Held &m : messages) {
            const QMessageLogContext context(m.file.isEmpty() ? nullptr : m.file.constData(), m.line,
                                             m.function.isEmpty() ? nullptr : m.function.constData(),
                                             m.category.constData());
            previous(m.type, context, m.text);
        }
    }

private:
    struct Held
    {
        QtMsgType type;
        QByteArray category, file, function;
        int line;
        QString text;
    };

    static std::vector<Held> &held()
    {
        static std::vector<Held> messages;
        return messages;
    }

    static void hold(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (holding && type != QtFatalMsg) {
                held().push_back(
                    {type, context.category, context.file, context.function, context.line, text});
                return;
            }
        }
        previous(type, context, text);
    }

    static inline QtMessageHandler previous = nullptr;
    static inline std::mutex mutex;
    static inline bool holding = true;
};

// Made before any other object of the program with a dynamic initialiser (GCC and Clang).
#if defined(__GNUC__)
__attribute__((init_priority(101)))
#endif
StartupMessages startupMessages;

} // namespace

int runApplication(int argc, char *argv[], const char *summary)
{
    QCoreApplication::setApplicationVersion(QStringLiteral(TARN_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral(TARN_APP_ID));
    const bool answer = viewerCommandLineNeedsAnswer(viewerArguments(argc, argv));
    const ViewerCameraChoice choice = viewerCameraChoice(viewerArguments(argc, argv));
    StartupMessages::release(!answer && !choice.listCameras);
    if (answer)
        return answerViewerCommandLine(argc, argv, summary);

    if (choice.listCameras) {
        std::fputs(CameraListing::text().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (!choice.name.isEmpty()) {
        uvcCameraDescription = choice.name;
        uvcCameraName = choice.name.toStdString();
    }
    uvcCameraDevice = choice.device;
    uvcCameraSerial = choice.serial;
    uvcCameraLayout = choice.layout;

    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    RenderRoad::drawWithoutDelay();
    QGuiApplication app(argc, argv);
    frameProvider->setRenderRoad(RenderRoad::name(RenderRoad::choose(viewerRenderChoice(app.arguments()))));
    QQmlApplicationEngine engine;

    registerQmlTypes();
    publishWindowObjects(engine.rootContext());

    const QUrl url(QStringLiteral("qrc:/main.qml"));
    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreated, &app,
        [url](QObject *obj, const QUrl &objUrl) {
            if (!obj && url == objUrl)
                QCoreApplication::exit(-1);
        },
        Qt::QueuedConnection);
    engine.load(url);

    return app.exec();
}
