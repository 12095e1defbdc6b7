#pragma once

#include "presentation/FameProvider.h"
#include "TestPicture.h"

#include <QObject>

class QQmlEngine;

// Prepares each test document's engine as the application prepares its own: the controller type
// "MainControl" 1.0 (here the double) and a real frame provider as "frameProvider"; adds the journal
// of controller calls and a test picture source.
class QmlTestSetup : public QObject
{
    Q_OBJECT

public slots:
    void applicationAvailable();
    void qmlEngineAvailable(QQmlEngine *engine);

private:
    FameProvider provider;
    TestPicture picture{&provider};
};
