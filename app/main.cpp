#include "app/Application.h"

#include <QtGlobal>

// Each viewer names itself at build time (see tarn_add_viewer in app/CMakeLists.txt).
#ifndef TARN_VIEWER_SUMMARY
#define TARN_VIEWER_SUMMARY "Tarn Player: the live picture of a thermal camera."
#endif

int main(int argc, char *argv[])
{
    return runApplication(argc, argv, TARN_VIEWER_SUMMARY);
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
