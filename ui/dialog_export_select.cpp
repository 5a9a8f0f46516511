#include "ui/dialog_export_select.h"

#include <QCheckBox>
#include <QLabel>

#include "ui/qt_text.h"
#include "ui/skin.h"
#include "ui/ybutton.h"

namespace velquist::ui {

CDialogExportSelectSeo::CDialogExportSelectSeo(ExportKind kind, QWidget* parent)
    : CYUiEntity(parent), m_kind(kind) {
    setFixedSize(440, 196);
    setupSkin(Mode::Dialog);
    setCaptionText(QStringLiteral("导出向导"));
    addCloseButton();

    auto* prompt = new QLabel(Q(kExportWizardPrompt), this);
    prompt->setObjectName(QStringLiteral("prompt"));
    prompt->setFont(SkinFont(13));
    prompt->setWordWrap(true);
    prompt->setGeometry(20, 48, width() - 40, 40);

    m_history = new QCheckBox(Q(kExportHistoryOption), this);
    m_history->setObjectName(QStringLiteral("historyBox"));
    m_history->setFont(SkinFont(13));
    m_history->setGeometry(20, 94, width() - 40, 24);

    const struct {
        ExportChoice choice;
        const char* text;
        const char* name;
    } choices[] = {
        {ExportChoice::All, "所有的", "allButton"},
        {ExportChoice::Finished, "查询完毕的", "finishedButton"},
        {ExportChoice::Unqueried, "未查询的", "unqueriedButton"},
    };
    int x = 20;
    int y = 0;
    for (const auto& each : choices) {
        CYButton* button = addTextButton(Q(each.text));
        button->setObjectName(QString::fromLatin1(each.name));
        y = height() - button->height() - 20;
        button->move(x, y);
        x += button->width() + 12;
        const ExportChoice choice = each.choice;
        connect(button, &CYButton::clicked, this, [this, choice] {
            m_choice = choice;
            done(static_cast<int>(choice));
        });
        m_buttons[static_cast<int>(choice) - 1] = button;
    }
    CYButton* cancel = addTextButton(QStringLiteral("取消"));
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->move(width() - cancel->width() - 20, y);
    connect(cancel, &CYButton::clicked, this, &QDialog::reject);
}

bool CDialogExportSelectSeo::withHistory() const { return m_history->isChecked(); }

CYButton* CDialogExportSelectSeo::choiceButton(ExportChoice choice) const {
    return m_buttons[static_cast<int>(choice) - 1];
}

}  // namespace velquist::ui
