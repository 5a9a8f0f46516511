#include "ui/dialog_sem.h"
#include "ui/dialog_seo.h"
#include "ui/dialog_setting.h"
#include "ui/velquist_dlg.h"

namespace velquist::ui {

namespace {

RankingPageContext PageContext(const CVelquistDlg& window) {
    RankingPageContext context;
    context.paths = window.settings().paths;
    context.hosts = window.settings().hosts;
    return context;
}

// Only one run goes at a time: while one page runs, the other one's start button is disabled.
void LinkRuns(CRankingListPage* first, CRankingListPage* second, CVelquistDlg& window) {
    QObject::connect(first, &CRankingListPage::runActiveChanged, second,
                     &CRankingListPage::setStartBlocked);
    QObject::connect(second, &CRankingListPage::runActiveChanged, first,
                     &CRankingListPage::setStartBlocked);
    for (CRankingListPage* page : {first, second})
        QObject::connect(page, &CRankingListPage::runFinished, &window,
                         &CVelquistDlg::onQueryRunEnded);
}

}  // namespace

// The pages are made in tab order (paid, natural, settings), so each later page can be linked
// to the ones before it.
QWidget* CreateDefaultPage(PageTab tab, CVelquistDlg& window) {
    auto* paid = qobject_cast<CDialogSem*>(window.page(PageTab::Paid));
    auto* natural = qobject_cast<CDialogSeo*>(window.page(PageTab::Natural));
    switch (tab) {
        case PageTab::Paid:
            return new CDialogSem(PageContext(window), &window);
        case PageTab::Natural: {
            auto* page = new CDialogSeo(PageContext(window), &window);
            if (paid) LinkRuns(page, paid->keywordPane(), window);
            return page;
        }
        case PageTab::Settings: {
            auto* page = new CDialogSetting(window.settings().paths.databasePath, &window);
            if (natural)
                QObject::connect(page, &CDialogSetting::sitesChanged, natural,
                                 &CRankingListPage::syncSites);
            if (paid)
                QObject::connect(page, &CDialogSetting::sitesChanged, paid->keywordPane(),
                                 &CRankingListPage::syncSites);
            return page;
        }
    }
    return nullptr;
}

}  // namespace velquist::ui
