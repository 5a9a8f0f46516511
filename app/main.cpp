#include <QApplication>
#include <cstdio>

#include "app/velquist_app.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Morvane"));
    QString error;
    const auto options = velquist::app::ParseArguments(QApplication::arguments(), &error);
    if (!options) {
        std::fprintf(stderr, "Morvane: %s\n%s", qPrintable(error),
                     qPrintable(velquist::app::UsageText()));
        return 2;
    }
    if (options->help) {
        std::fputs(qPrintable(velquist::app::UsageText()), stdout);
        return 0;
    }
    return velquist::app::RunVelquist(*options);
}
