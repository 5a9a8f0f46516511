#include "ui/dialog_sem.h"

#include "core/process_state.h"
#include "records/paid_records.h"
#include "ui/dialog_add_keywords.h"
#include "ui/ysplitter.h"

namespace velquist::ui {

CDialogRight::CDialogRight(RankingPageContext context, QWidget* parent)
    : CRankingListPage(QueryKind::Paid, std::move(context),
                       {{QStringLiteral("关键词"), 200, &RankRow::keyword},
                        {QStringLiteral("推广单元"), 180, &RankRow::unit},
                        {QStringLiteral("推广计划"), 180, &RankRow::plan},
                        {QStringLiteral("查询时间"), 180, &RankRow::time}},
                       parent) {
    setObjectName(QStringLiteral("paidKeywordPane"));
    setupSkin(Mode::Child);
}

void CDialogRight::setTreeFilter(TreeFilter filter, bool reloadNow) {
    m_filter = std::move(filter);
    if (reloadNow) reload();
}

RankRowLoader CDialogRight::rowLoader() const {
    const int marker = Process().firstNewKeywordId.load();
    std::optional<int> newAfter;
    if (marker != -1) newAfter = marker;
    return [db = context().paths.databasePath, filter = m_filter, newAfter,
            columns = siteColumns()]() -> std::optional<std::vector<RankRow>> {
        auto list = listPaidKeywords(db, filter.planIds, filter.unitIds, newAfter, columns);
        if (!list) return std::nullopt;
        std::vector<RankRow> rows;
        rows.reserve(list->rows.size());
        for (PaidKeywordRow& loaded : list->rows) {
            RankRow row;
            row.id = loaded.keywordId;
            row.keyword = std::move(loaded.keyword);
            row.unit = std::move(loaded.unit);
            row.plan = std::move(loaded.plan);
            row.time = std::move(loaded.time);
            row.cells = std::move(loaded.sites);
            MarkUnrankedCells(row.cells);
            rows.push_back(std::move(row));
        }
        return rows;
    };
}

void CDialogRight::openAddDialog() {
    CDialogAddSem dialog(context().paths.databasePath, this);
    dialog.setOnCommitted([this](int added) { emit keywordsAdded(added); });
    dialog.exec();
}

CDialogSem::CDialogSem(RankingPageContext context, QWidget* parent) : CYUiEntity(parent) {
    setObjectName(QStringLiteral("paidPage"));
    m_splitter = new CYSplitterWnd(this);
    m_left = new CDialogLeft(context.paths.databasePath, m_splitter);
    m_right = new CDialogRight(std::move(context), m_splitter);
    m_splitter->addWidget(m_left);
    m_splitter->addWidget(m_right);
    m_splitter->setColumnInfo(0, Process().leftPaneWidth, Process().leftPaneMinimum);
    m_splitter->setColumnInfo(1, Process().rightPaneWidth, Process().rightPaneMinimum);

    m_left->setBusyProbe([right = m_right] { return right->runActive(); });
    m_right->m_tree = m_left;
    connect(m_left, &CDialogLeft::filterChanged, this,
            [this] { m_right->setTreeFilter(m_left->filter()); });
    connect(m_right, &CDialogRight::keywordsAdded, this, &CDialogSem::reloadAfterAdd);

    setSwallowEnterEscape(true);
    setupSkin(Mode::Child);
    m_right->setTreeFilter(m_left->filter());
}

bool CDialogSem::queryRunActive() const { return m_right->runActive(); }

void CDialogSem::reloadAfterAdd(int added) {
    m_left->rebuild();
    m_right->setTreeFilter(m_left->filter(), false);
    m_right->reloadAfterAdd(added);
}

void CDialogSem::layoutSkinControls() {
    if (!m_splitter) return;
    m_splitter->setGeometry(1, 0, std::max(width() - 1, 0), height());
    m_splitter->setColumnInfo(0, Process().leftPaneWidth, Process().leftPaneMinimum);
    m_splitter->setColumnInfo(1, Process().rightPaneWidth, Process().rightPaneMinimum);
    m_splitter->recalcLayout();
}

}  // namespace velquist::ui
