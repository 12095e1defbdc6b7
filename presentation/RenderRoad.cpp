#include "presentation/RenderRoad.h"

#include "presentation/PresentationLog.h"

#include <QDir>
#include <QFileInfo>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQuickWindow>
#include <QSGRendererInterface>

QString RenderRoad::openGLRenderer()
{
    QOpenGLContext context;
    if (!context.create())
        return {};
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface))
        return {};
    const auto *text = reinterpret_cast<const char *>(context.functions()->glGetString(GL_RENDERER));
    const QString renderer = text ? QString::fromLatin1(text) : QString();
    context.doneCurrent();
    return renderer;
}

bool RenderRoad::hasGpuDevice()
{
    const QStringList nodes =
        QDir(QStringLiteral("/dev/dri"))
            .entryList({QStringLiteral("renderD*"), QStringLiteral("card*")}, QDir::System);
    return !nodes.isEmpty() || QFileInfo::exists(QStringLiteral("/dev/nvidia0"));
}

bool RenderRoad::isSoftwareRasteriser(const QString &renderer)
{
    for (const char *name : {"llvmpipe", "softpipe", "swrast", "Software Rasterizer"}) {
        if (renderer.contains(QLatin1String(name), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

void RenderRoad::drawWithoutDelay()
{
    if (!qEnvironmentVariableIsSet("QT_QPA_UPDATE_IDLE_TIME"))
        qputenv("QT_QPA_UPDATE_IDLE_TIME", "0");
}

RenderRoad::Road RenderRoad::choose(const QString &requested)
{
    Road road = OpenGL;
    QString why;
    const QByteArray backend = qgetenv("QT_QUICK_BACKEND");
    if (requested == QLatin1String("software") || requested == QLatin1String("opengl")) {
        road = requested == QLatin1String("software") ? Software : OpenGL;
        why = QStringLiteral("--render %1").arg(requested);
        // The option wins over the environment.
        qunsetenv("QT_QUICK_BACKEND");
    } else if (!backend.isEmpty()) {
        road = backend == "software" ? Software : OpenGL;
        why = QStringLiteral("QT_QUICK_BACKEND=%1").arg(QString::fromLocal8Bit(backend));
        // "opengl" is the road's name, not one of Qt's backends: Qt's own default is OpenGL.
        if (backend == "opengl")
            qunsetenv("QT_QUICK_BACKEND");
    } else if (!hasGpuDevice()) {
        // Not even a context is made to ask: loading and unloading a driver costs time at every start.
        road = Software;
        why = QStringLiteral("no GPU device in /dev/dri, so OpenGL could only be a software rasteriser");
    } else {
        const QString renderer = openGLRenderer();
        if (renderer.isEmpty()) {
            road = Software;
            why = QStringLiteral("no OpenGL here");
        } else if (isSoftwareRasteriser(renderer)) {
            road = Software;
            why = QStringLiteral("OpenGL is %1, a software rasteriser").arg(renderer);
        } else {
            why = QStringLiteral("OpenGL is %1").arg(renderer);
        }
    }
    QQuickWindow::setSceneGraphBackend(road == Software ? QSGRendererInterface::Software
                                                        : QSGRendererInterface::OpenGL);
    qCDebug(lcPresentation).noquote()
        << "picture drawn by the" << (road == Software ? "software renderer" : "OpenGL renderer")
        << "(" + why + ")";
    return road;
}
