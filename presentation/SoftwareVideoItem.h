#pragma once

#include <QImage>
#include <QPointer>
#include <QQuickItem>

class FameProvider;

// The picture on Qt Quick's software renderer, where VideoOutput draws nothing. It shows the frame
// provider's latest image stretched over the item, as the VideoOutput road does; a render node paints
// it straight from the player's image into the window, so each image is copied once (by that paint)
// and only the item's own rectangle is redrawn. On the OpenGL renderer the window uses VideoOutput.
//
// GUI thread, like every item; the node paints during the scene graph's render.
class SoftwareVideoItem : public QQuickItem
{
    Q_OBJECT
    // The frame provider whose images are shown.
    Q_PROPERTY(QObject *source READ source WRITE setSource NOTIFY sourceChanged)

public:
    explicit SoftwareVideoItem(QQuickItem *parent = nullptr);

    QObject *source() const;
    void setSource(QObject *source);

signals:
    void sourceChanged();

protected:
    QSGNode *updatePaintNode(QSGNode *oldNode, UpdatePaintNodeData *data) override;

private:
    void imageArrived();

    QPointer<FameProvider> provider;
    QImage latest;
    bool changed = false;
};
