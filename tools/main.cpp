// tarn-tool: the media tool on the command line (see ToolCommandLine.h).
#include "media/AudioOutput.h"
#include "tools/ArgumentPath.h"
#include "tools/ToolCommandLine.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

int main(int argc, char *argv[])
{
    ArgumentPath::setRawArguments(argc, argv);
    int code = 0;
    {
        QCoreApplication app(argc, argv);
        code = ToolCommandLine::run(QCoreApplication::arguments());
        if (AudioOutput::everOpened()) {
            // Every output is closed by now, but Qt's PulseAudio backend tears its connection down in an
            // exit handler while its own thread may still be reading from the server, which aborts now
            // and then (about one run in 300). After sound, leave without exit handlers.
            std::fflush(nullptr);
#if defined(__SANITIZE_ADDRESS__)
            __lsan_do_leak_check();
#endif
            std::_Exit(code);
        }
    }
    return code;
}
