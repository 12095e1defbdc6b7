#include "presentation/PresentationLog.h"

Q_LOGGING_CATEGORY(lcPresentation, "tarn.presentation")
