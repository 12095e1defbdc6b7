#include "app/VirtualCameraLauncher.h"

int main(int argc, char *argv[])
{
    return VirtualCameraLauncher::run(
        argc, argv,
        "Tarn Player on a virtual thermal camera: the viewer of tarn-player, with a UVC camera made "
        "in software (libtarn-vcam.so) loaded into it, for trying the viewer without a camera.");
}
