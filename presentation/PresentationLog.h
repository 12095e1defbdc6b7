#pragma once
// The frame provider's logging category (surface and format changes).

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcPresentation)
