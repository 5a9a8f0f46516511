#include "ui/url_opener.h"

#include <QDesktopServices>
#include <QUrl>

namespace velquist::ui {

namespace {

int OpenWithDesktop(const QString& address) {
    return QDesktopServices::openUrl(QUrl::fromUserInput(address)) ? kOpenSucceeded
                                                                   : kOpenNoAssociation;
}

UrlOpener& CurrentOpener() {
    static UrlOpener opener;
    return opener;
}

}  // namespace

int OpenWebAddress(const QString& address) {
    const UrlOpener& opener = CurrentOpener();
    return opener ? opener(address) : OpenWithDesktop(address);
}

void SetUrlOpener(UrlOpener opener) { CurrentOpener() = std::move(opener); }

}  // namespace velquist::ui
