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

QImage TestPicture::quarters(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    const int halfW = width / 2;
    const int halfH = height / 2;
    painter.fillRect(0, 0, halfW, halfH, quarterColors[0]);
    painter.fillRect(halfW, 0, width - halfW, halfH, quarterColors[1]);
    painter.fillRect(0, halfH, halfW, height - halfH, quarterColors[2]);
    painter.fillRect(halfW, halfH, width - halfW, height - halfH, quarterColors[3]);
    return image;
}

QColor TestPicture::quarterColor(int index) const
{
    return (index >= 0 && index < 4) ? quarterColors[index] : QColor();
}

void TestPicture::show(int width, int height)
{
    provider->setFormat(width, height);
    provider->onNewVideoContentReceived(QVideoFrame(quarters(width, height)));
}
