#include <QApplication>
#include <cstdio>
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
