#include "ui/hyperlink.h"

#include <QMouseEvent>

#include "ui/message_box.h"
#include "ui/qt_text.h"
#include "ui/skin.h"
#include "ui/url_opener.h"

namespace velquist::ui {

QString HyperlinkErrorText(int code) {
    QString reason;
    switch (code) {
        case 0:
            reason = QStringLiteral("The operating system is out\nof memory or resources.");
            break;
        case 2:
            reason = QStringLiteral("The specified file was not found.");
            break;
        case 3:
            reason = QStringLiteral("The specified path was not found.");
            break;
        case 11:
            reason = QStringLiteral(
                "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).");
            break;
        case 5:
            reason = QStringLiteral("The operating system denied\naccess to the specified file.");
            break;
        case 27:
            reason = QStringLiteral("The filename association is\nincomplete or invalid.");
            break;
        case 30:
            reason = QStringLiteral(
                "The DDE transaction could not\nbe completed because other DDE transactions\n"
                "were being processed.");
            break;
        case 29:
            reason = QStringLiteral("The DDE transaction failed.");
            break;
        case 28:
            reason = QStringLiteral(
                "The DDE transaction could not\nbe completed because the request timed out.");
            break;
        case 32:
            reason = QStringLiteral("The specified dynamic-link library was not found.");
            break;
        case 31:
            reason = QStringLiteral(
                "There is no application associated\nwith the given filename extension.");
            break;
        case 8:
            reason = QStringLiteral("There was not enough memory to complete the operation.");
            break;
        case 26:
            reason = QStringLiteral("A sharing violation occurred. ");
            break;
        default:
            reason = QStringLiteral("Unknown Error (%1) occurred.").arg(code);
            break;
    }
    return QStringLiteral("Unable to open hyperlink:\n\n") + reason;
}

CHyperLink::CHyperLink(const QString& text, const QString& target, QWidget* parent)
    : QLabel(text, parent), m_target(target) {
    setCursor(Qt::PointingHandCursor);
    QFont linkFont = SkinFont(12);
    linkFont.setUnderline(true);
    setFont(linkFont);
    setStyleSheet(QStringLiteral("color: rgb(0, 0, 255);"));
}

bool CHyperLink::open() {
    const int code = OpenWebAddress(m_target);
    if (code > 32) return true;
    Notifier().showMessage(U8(HyperlinkErrorText(code)));
    return false;
}

void CHyperLink::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        emit clicked();
        open();
    }
    QLabel::mouseReleaseEvent(event);
}

}  // namespace velquist::ui
