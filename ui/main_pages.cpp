#include "ui/dialog_setting.h"
#include "ui/placeholder_page.h"
#include "ui/velquist_dlg.h"

namespace velquist::ui {

// The ranking pages come with their own issue; until then their tabs show a placeholder.
QWidget* CreateDefaultPage(PageTab tab, CVelquistDlg& window) {
    const QString note = QStringLiteral("此页面将在后续版本中提供。");
    switch (tab) {
        case PageTab::Paid:
            return new PlaceholderPage(QStringLiteral("推广排名"), note, &window);
        case PageTab::Natural:
            return new PlaceholderPage(QStringLiteral("自然排名"), note, &window);
        case PageTab::Settings:
            return new CDialogSetting(window.settings().paths.databasePath, &window);
    }
    return nullptr;
}

}  // namespace velquist::ui
