#include "ui/dialog_seo.h"

#include <QComboBox>
#include <QLabel>
#include <algorithm>

#include "core/settings.h"
#include "records/natural_records.h"
#include "ui/dialog_add_keywords.h"
#include "ui/qt_text.h"
#include "ui/skin.h"

namespace velquist::ui {

namespace {

QLabel* WhiteLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(SkinFont(12));
    label->setAutoFillBackground(true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, Qt::white);
    label->setPalette(palette);
    return label;
}

}  // namespace

CDialogSeo::CDialogSeo(RankingPageContext context, QWidget* parent)
    : CRankingListPage(QueryKind::Natural, std::move(context),
                       {{QStringLiteral("关键词"), 200, &RankRow::keyword},
                        {QStringLiteral("查询时间"), 180, &RankRow::time}},
                       parent) {
    setObjectName(QStringLiteral("naturalPage"));

    m_pageCountLabel = WhiteLabel(QStringLiteral("最大翻页数："), this);
    m_tip = WhiteLabel(Q(kPageCountTip), this);
    m_pageCount = new QComboBox(this);
    m_pageCount->setObjectName(QStringLiteral("pageCountBox"));
    m_pageCount->setFont(SkinFont(12));
    for (int pages = 1; pages <= 10; ++pages) m_pageCount->addItem(QString::number(pages));

    const int pages =
        RankSettings(this->context().paths.settingsPath).readPageCount(Process().pageCount.load());
    Process().pageCount = pages;
    m_pageCount->setCurrentIndex(pages - 1);
    connect(m_pageCount, &QComboBox::currentIndexChanged, this, &CDialogSeo::onPageCountChosen);

    setupSkin(Mode::Child);
    setCaptionText(QStringLiteral("  "));
    reload();
}

RankRowLoader CDialogSeo::rowLoader() const {
    return [db = context().paths.databasePath,
            columns = siteColumns()]() -> std::optional<std::vector<RankRow>> {
        auto list = loadNaturalList(db, columns);
        if (!list) return std::nullopt;
        std::vector<RankRow> rows;
        rows.reserve(list->rows.size());
        for (NaturalKeywordRow& loaded : list->rows) {
            RankRow row;
            row.id = loaded.keywordId;
            row.keyword = std::move(loaded.keyword);
            row.time = std::move(loaded.time);
            row.cells = std::move(loaded.sites);
            MarkUnrankedCells(row.cells);
            rows.push_back(std::move(row));
        }
        return rows;
    };
}

void CDialogSeo::openAddDialog() {
    CDialogAddSeo dialog(context().paths.databasePath, this);
    dialog.setOnCommitted([this](int added) { reloadAfterAdd(added); });
    dialog.exec();
}

void CDialogSeo::setBusyLook(bool busy) {
    CRankingListPage::setBusyLook(busy);
    m_pageCount->setEnabled(!busy);
}

void CDialogSeo::onPageCountChosen(int index) {
    const int pages = index + 1;
    Process().pageCount = pages;
    RankSettings(context().paths.settingsPath).writePageCount(pages);
}

void CDialogSeo::layoutSkinControls() {
    CRankingListPage::layoutSkinControls();
    if (!m_pageCount) return;
    const int right = toolbarRight();
    m_pageCountLabel->setGeometry(right + 20, 13, 80, 20);
    m_pageCount->setGeometry(right + 100, 8, 48, 26);
    // The tip is one line; it gets the width its words need where the page has room for it.
    const int tipWidth = std::max(350, m_tip->fontMetrics().horizontalAdvance(m_tip->text()) + 4);
    m_tip->setGeometry(right + 160, 13, tipWidth, 20);
}

}  // namespace velquist::ui
