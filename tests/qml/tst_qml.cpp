#include "QmlTestSetup.h"

#include <QtQuickTest>

// The window documents come from the compiled resources, exactly as the viewer loads them.
QUICK_TEST_MAIN_WITH_SETUP(tst_qml, QmlTestSetup)
