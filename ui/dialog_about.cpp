#include "ui/dialog_about.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "core/paths.h"
#include "ui/qt_text.h"
#include "ui/skin.h"
#include "ui/ybutton.h"

namespace velquist::ui {

CDialogAbout::CDialogAbout(QWidget* parent) : CYUiEntity(parent) {
    setFixedSize(470, 220);
    setupSkin(Mode::Dialog);
    setCaptionText(QStringLiteral("关于我们"));
    addCloseButton();

    m_name = new QLabel(Q(kProgramTitle), this);
    m_name->setObjectName(QStringLiteral("programName"));
    m_name->setFont(SkinFont(14, true));
    m_name->setGeometry(112, 64, 340, 24);

    m_version = new QLabel(versionText(), this);
    m_version->setObjectName(QStringLiteral("versionText"));
    m_version->setFont(SkinFont(13));
    m_version->setGeometry(112, 100, 340, 20);

    auto* notice = new QLabel(Q(kOwnershipNotice), this);
    notice->setFont(SkinFont(12));
    notice->setStyleSheet(QStringLiteral("color: rgb(110, 118, 130);"));
    notice->setGeometry(112, 150, 340, 20);
}

QString CDialogAbout::versionText() const {
    return QStringLiteral("版本：%1").arg(Q(kVersionText));
}

void CDialogAbout::loadSkinImages() { m_icon = LoadSkin(QStringLiteral("app_icon.png")); }

void CDialogAbout::drawExtras(QPainter& painter) {
    if (!m_icon.isNull()) painter.drawPixmap(QRect(30, 64, 64, 64), m_icon);
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("关于 Velquist"));
    auto* layout = new QVBoxLayout(this);
    auto* text = new QLabel(QStringLiteral("Velquist，1.0 版"), this);
    text->setObjectName(QStringLiteral("aboutText"));
    layout->addWidget(text);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

}  // namespace velquist::ui
