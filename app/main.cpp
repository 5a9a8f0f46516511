#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/velquist_app.h"

int main(int argc, char** argv) {
    // Answered before the window system is asked for, so they work without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("Morvane %s\n", velquist::kVersionText);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(qPrintable(velquist::app::UsageText()), stdout);
            return 0;
        }
    }
    // Without any window system Qt would abort; say so instead (the updater may start the
    // program on a machine without one).
    const bool platformArgument = std::any_of(argv + 1, argv + argc, [](const char* argument) {
        return std::strcmp(argument, "-platform") == 0;
    });
    if (!platformArgument && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") &&
        !std::getenv("QT_QPA_PLATFORM")) {
        std::fputs("Morvane: no display to open the window on (DISPLAY is not set)\n", stderr);
        return 1;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Morvane"));
    QString error;
    const auto options = velquist::app::ParseArguments(QApplication::arguments(), &error);
    if (!options) {
        std::fprintf(stderr, "Morvane: %s\n%s", qPrintable(error),
                     qPrintable(velquist::app::UsageText()));
        return 2;
    }
    return velquist::app::RunVelquist(*options);
}
