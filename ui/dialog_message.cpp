#include "ui/dialog_message.h"

#include <QLabel>

#include "core/process_state.h"
#include "ui/skin.h"

namespace velquist::ui {

CDialogMessage::CDialogMessage(QWidget* parent) : CYUiEntity(parent) {
    setFixedSize(Process().messageBoxWidth, Process().messageBoxHeight);
    setupSkin(Mode::Dialog);
    setCaptionText(QStringLiteral("提示"));
    addCloseButton();
    // A run-end notice, not a question: the pages go on while it is shown.
    setModal(false);

    m_text = new QLabel(this);
    m_text->setObjectName(QStringLiteral("messageText"));
    m_text->setFont(SkinFont(14));
    m_text->setWordWrap(true);
    m_text->setAlignment(Qt::AlignCenter);
    m_text->setGeometry(20, 44, width() - 40, height() - 64);
}

void CDialogMessage::setText(const QString& text) { m_text->setText(text); }

QString CDialogMessage::text() const { return m_text->text(); }

void CDialogMessage::showText(const QString& text) {
    setText(text);
    if (const QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr) {
        const QRect area = owner->geometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }
    show();
    raise();
}

}  // namespace velquist::ui
