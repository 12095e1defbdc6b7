#include "thermal/ThermalLog.h"

Q_LOGGING_CATEGORY(lcThermal, "tarn.thermal")
