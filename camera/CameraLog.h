#pragma once
// The camera's logging category: the session (search, open, reconnect, commands, property refresh) and
// the camera libraries (the devices they find, the commands they send).
// QT_LOGGING_RULES="tarn.camera.debug=false" quiets it.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcCamera)
