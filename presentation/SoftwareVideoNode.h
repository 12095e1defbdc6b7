#pragma once

#include <QImage>
#include <QRectF>
#include <QSGRenderNode>

class QQuickWindow;

// Paints one image over a rectangle with the software renderer's own painter. Holding the image (a
// shared copy of the player's pixels) keeps them alive until the next image replaces it.
class SoftwareVideoNode : public QSGRenderNode
{
public:
    explicit SoftwareVideoNode(QQuickWindow *window) : window(window) {}

    void setImage(const QImage &picture) { image = picture; }
    void setRect(const QRectF &bounds) { area = bounds; }

    void render(const RenderState *state) override;
    StateFlags changedStates() const override { return {}; }
    RenderingFlags flags() const override { return BoundedRectRendering | OpaqueRendering; }
    QRectF rect() const override { return area; }

private:
    QQuickWindow *window;
    QImage image;
    QRectF area;
};
