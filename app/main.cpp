#include "app/Application.h"

#include <QtGlobal>

int main(int argc, char *argv[])
{
    return runApplication(argc, argv);
}

#ifdef Q_OS_WIN
#include <qt_windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

// A GUI-subsystem program enters here: turn the command line into an ANSI argument vector for main().
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    int argc = 0;
    LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> storage;
    std::vector<char *> argv;
    for (int i = 0; i < argc; ++i) {
        const int size = WideCharToMultiByte(CP_ACP, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(size > 0 ? size - 1 : 0, '\0');
        WideCharToMultiByte(CP_ACP, 0, wide[i], -1, arg.data(), size, nullptr, nullptr);
        storage.push_back(std::move(arg));
    }
    for (auto &arg : storage)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    LocalFree(wide);
    return main(argc, argv.data());
}
#endif
