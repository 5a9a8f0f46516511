#include "ui/placeholder_page.h"

#include <QPainter>

#include "ui/skin.h"

namespace velquist::ui {

PlaceholderPage::PlaceholderPage(const QString& heading, const QString& note, QWidget* parent)
    : CYUiEntity(parent), m_heading(heading), m_note(note) {
    setObjectName(QStringLiteral("placeholderPage"));
    setupSkin(Mode::Child);
}

void PlaceholderPage::drawExtras(QPainter& painter) {
    painter.setPen(QColor(44, 62, 80));
    painter.setFont(SkinFont(16, true));
    painter.drawText(QRect(24, 24, width() - 48, 24), Qt::AlignLeft | Qt::AlignVCenter, m_heading);
    painter.setPen(QColor(120, 130, 142));
    painter.setFont(SkinFont(13));
    painter.drawText(QRect(24, 56, width() - 48, 20), Qt::AlignLeft | Qt::AlignVCenter, m_note);
}

}  // namespace velquist::ui
