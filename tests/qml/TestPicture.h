#pragma once

#include <QColor>
#include <QImage>
#include <QObject>

class FameProvider;

// Puts a known picture on the window's video surface the way the camera session does: announce the
// size to the frame provider, then present RGB32 frames. The picture has four coloured quarters, so
// a look at the pane's corners tells whether the picture covers the whole pane.
class TestPicture : public QObject
{
    Q_OBJECT

public:
    explicit TestPicture(FameProvider *provider, QObject *parent = nullptr);

    // The quarters' colours: top left, top right, bottom left, bottom right.
    Q_INVOKABLE QColor quarterColor(int index) const;
    // Announces width x height and presents one frame. Main thread.
    Q_INVOKABLE void show(int width, int height);

private:
    FameProvider *provider;
};
