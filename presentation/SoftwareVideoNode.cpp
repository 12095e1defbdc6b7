#include "presentation/SoftwareVideoNode.h"

#include <QPainter>
#include <QQuickWindow>
#include <QSGRendererInterface>

void SoftwareVideoNode::render(const RenderState *state)
{
    QSGRendererInterface *renderer = window->rendererInterface();
    auto *painter =
        static_cast<QPainter *>(renderer->getResource(window, QSGRendererInterface::PainterResource));
    if (!painter)
        return;
    // The clip first: setClipRegion works in the painter's current coordinates.
    if (const QRegion *clip = state->clipRegion(); clip && !clip->isEmpty())
        painter->setClipRegion(*clip, Qt::ReplaceClip);
    painter->setTransform(matrix()->toTransform());
    painter->setOpacity(inheritedOpacity());
    if (image.isNull()) {
        painter->fillRect(area, Qt::black);
        return;
    }
    // Smooth scaling, as the VideoOutput road's linear texture filtering.
    painter->setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter->drawImage(area, image);
}
