#include "camera/v4l2/V4l2Io.h"

V4l2Io::~V4l2Io() = default;
