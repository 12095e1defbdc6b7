#pragma once
// The camera session's logging category: search, open, reconnect, commands and the property refresh.
// QT_LOGGING_RULES="tarn.camera.debug=false" quiets it.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcCamera)
