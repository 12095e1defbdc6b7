// tarn-tool: the media tool on the command line (see ToolCommandLine.h).
#include "tools/ArgumentPath.h"
#include "tools/ToolCommandLine.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    ArgumentPath::setRawArguments(argc, argv);
    QCoreApplication app(argc, argv);
    return ToolCommandLine::run(QCoreApplication::arguments());
}
