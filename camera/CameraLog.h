#pragma once
// The camera libraries' logging category: what the camera search and the V4L2 camera library report
// about the devices they find and the commands they send.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcCamera)
