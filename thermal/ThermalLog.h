#pragma once
// The temperature reader's logging category: split frames seen, pictures dropped, files saved.
// QT_LOGGING_RULES="tarn.thermal.debug=false" quiets it.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcThermal)
