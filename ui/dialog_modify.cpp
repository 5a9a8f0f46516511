#include "ui/dialog_modify.h"

#include <QLabel>
#include <QLineEdit>

#include "records/site_records.h"
#include "ui/message_box.h"
#include "ui/qt_text.h"
#include "ui/skin.h"
#include "ui/ybutton.h"

namespace velquist::ui {

CDialogModify::CDialogModify(const QString& currentAddress, QWidget* parent) : CYUiEntity(parent) {
    setFixedSize(420, 190);
    setupSkin(Mode::Dialog);
    setCaptionText(QStringLiteral("修改网址"));
    addCloseButton();

    auto* label = new QLabel(QStringLiteral("修改当前网址："), this);
    label->setFont(SkinFont(13));
    label->setGeometry(20, 56, 110, 26);
    m_edit = new QLineEdit(currentAddress, this);
    m_edit->setObjectName(QStringLiteral("addressEdit"));
    m_edit->setFont(SkinFont(13));
    m_edit->setGeometry(126, 56, 274, 26);

    CYButton* ok = addTextButton(QStringLiteral("确定"));
    ok->setObjectName(QStringLiteral("okButton"));
    ok->move(width() - 2 * ok->width() - 34, height() - ok->height() - 16);
    connect(ok, &CYButton::clicked, this, &CDialogModify::onOk);
    CYButton* cancel = addTextButton(QStringLiteral("取消"));
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->move(width() - cancel->width() - 20, height() - cancel->height() - 16);
    connect(cancel, &CYButton::clicked, this, &QDialog::reject);
}

void CDialogModify::onOk() {
    // The same cleaning and check as an added address; duplicates are for the page to judge.
    const SiteCheckResult check = CheckNewSite(U8(m_edit->text()), {});
    if (!check.accepted) {
        Notifier().showMessage(check.message);
        return;
    }
    m_address = Q(check.url);
    accept();
}

}  // namespace velquist::ui
