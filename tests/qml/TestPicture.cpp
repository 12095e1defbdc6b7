#include "TestPicture.h"

#include "presentation/FameProvider.h"

#include <QPainter>
#include <QVideoFrame>

namespace {
const QColor quarterColors[] = {QColor(230, 40, 40), QColor(40, 200, 60), QColor(40, 80, 230),
                                QColor(240, 240, 240)};
}

TestPicture::TestPicture(FameProvider *frameProvider, QObject *parent)
    : QObject(parent), provider(frameProvider)
{}

QColor TestPicture::quarterColor(int index) const
{
    return (index >= 0 && index < 4) ? quarterColors[index] : QColor();
}

void TestPicture::show(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    const int w = width / 2, h = height / 2;
    painter.fillRect(0, 0, w, h, quarterColors[0]);
    painter.fillRect(w, 0, width - w, h, quarterColors[1]);
    painter.fillRect(0, h, w, height - h, quarterColors[2]);
    painter.fillRect(w, h, width - w, height - h, quarterColors[3]);
    painter.end();
    provider->setFormat(width, height);
    provider->onNewVideoContentReceived(QVideoFrame(image));
}
