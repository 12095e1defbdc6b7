#pragma once

#include <QObject>
#include <QSettings>
#include <QString>

// What the viewer remembers from one start to the next: the picture's shape, full screen and the unit
// temperatures are read in. Kept in the user's configuration folder ($XDG_CONFIG_HOME/tarn-player/
// viewer.ini); every change is written at once. GUI thread.
class ViewerSettings : public QObject
{
    Q_OBJECT
    // "stretch": the picture fills the pane (the default); "fit": the camera's aspect kept, black bars.
    Q_PROPERTY(QString pictureShape READ pictureShape WRITE setPictureShape NOTIFY pictureShapeChanged)
    Q_PROPERTY(bool fullScreen READ fullScreen WRITE setFullScreen NOTIFY fullScreenChanged)
    // "C" or "F".
    Q_PROPERTY(
        QString temperatureUnit READ temperatureUnit WRITE setTemperatureUnit NOTIFY temperatureUnitChanged)

public:
    explicit ViewerSettings(QObject *parent = nullptr);

    QString pictureShape() const { return shape; }
    void setPictureShape(const QString &value);
    bool fullScreen() const { return full; }
    void setFullScreen(bool value);
    QString temperatureUnit() const { return unit; }
    void setTemperatureUnit(const QString &value);

signals:
    void pictureShapeChanged();
    void fullScreenChanged();
    void temperatureUnitChanged();

private:
    // Sets FIELD to VALUE and writes it under KEY; false when it had that value already.
    template <typename T> bool remember(T &field, const T &value, const QString &key);

    QSettings store;
    QString shape;
    bool full = false;
    QString unit;
};
