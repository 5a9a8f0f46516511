#include "ui/ranking_list_page.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QTimer>
#include <algorithm>
#include <mutex>
#include <numeric>

#include "core/text.h"
#include "engine/run_lock.h"
#include "records/natural_records.h"
#include "records/paid_records.h"
#include "ui/dialog_rank_history.h"
#include "ui/message_box.h"
#include "ui/qt_text.h"
#include "ui/report_control.h"
#include "ui/skin.h"
#include "ui/velquist_dlg.h"
#include "ui/ybutton.h"

namespace velquist::ui {

// One query run of a page: the engine's side of it (queue, worker count, settings), the listener
// its workers call and the run lock of its kind. The page holds it while the run goes; the run
// also holds itself until "run ended", so it outlives a page that is destroyed under it (the
// window closing mid-run). Results for a page that has gone are dropped.
class RankingRun final : public QueryRunListener {
  public:
    RankingRun(QueryKind kind, CRankingListPage* receiver)
        : page(kind, *this), m_receiver(receiver) {}

    // Called on a worker thread: hands the item to the page's thread.
    void keywordFinished(QueryKind, std::unique_ptr<STRUCT_WORD> item) override {
        std::lock_guard lock(m_mutex);
        if (!m_receiver) return;
        CRankingListPage* receiver = m_receiver;
        QMetaObject::invokeMethod(
            receiver,
            [receiver, run = this, item = std::move(item)]() mutable {
                receiver->onKeywordFinished(run, std::move(item));
            },
            Qt::QueuedConnection);
    }

    // Called once, on the last worker's thread, after every keyword event.
    void runEnded(QueryKind) override {
        std::shared_ptr<RankingRun> self;
        {
            std::lock_guard lock(m_mutex);
            self = std::move(m_self);
            if (m_receiver) {
                CRankingListPage* receiver = m_receiver;
                QMetaObject::invokeMethod(
                    receiver, [receiver, self] { receiver->onRunEnded(self); },
                    Qt::QueuedConnection);
            }
        }
        // Without a page this may free the run; nothing below touches it.
    }

    void keepAliveUntilEnd(std::shared_ptr<RankingRun> self) {
        std::lock_guard lock(m_mutex);
        m_self = std::move(self);
    }

    // GUI thread, when the page goes: later events are dropped, queued ones go with the page.
    void detach() {
        std::lock_guard lock(m_mutex);
        m_receiver = nullptr;
    }

    QueryPage page;
    std::optional<QueryRunLock> lock;

  private:
    std::mutex m_mutex;
    CRankingListPage* m_receiver;        // guarded by m_mutex; null once the page has gone
    std::shared_ptr<RankingRun> m_self;  // guarded by m_mutex
};

namespace {

constexpr int kToolbarY = 5;
constexpr int kToolbarX = 5;
constexpr int kToolbarGap = 5;
constexpr int kListTop = 70;
constexpr int kStatusCharWidth = 12;
constexpr const char* kStartImage = "_btn_chaxunpaiming.png";
constexpr const char* kStopImage = "_btn_tingzhichaxun.png";

bool PutOnClipboard(const QString& text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard) return false;
    clipboard->setText(text);
    // The clipboard reports no failure of its own; reading it back tells whether it took the text.
    return clipboard->text() == text;
}

}  // namespace

std::vector<StatusPiece> StatusLinePieces(const std::array<int, 4>& values, int x, int limit,
                                          const QFontMetrics& plain, const QFontMetrics& bold) {
    const std::array<QString, 5> words{
        QStringLiteral("当前选中 "), QStringLiteral(" 词，正在查询 "),
        QStringLiteral(" 词，查询完成 "), QStringLiteral(" 词，剩余 "), QStringLiteral(" 词")};
    std::vector<StatusPiece> pieces;
    for (std::size_t index = 0; index < 2 * words.size() - 1; ++index) {
        const bool number = index % 2 == 1;
        const QString text = number ? QString::number(values[index / 2]) : words[index / 2];
        const QFontMetrics& metrics = number ? bold : plain;
        const int advance = metrics.horizontalAdvance(text);
        if (x + advance > limit) {
            const int room = limit - x - metrics.horizontalAdvance(QStringLiteral(".."));
            const int fit = std::max(0, room / kStatusCharWidth);
            pieces.push_back({text.left(fit) + QStringLiteral(".."), number, x});
            break;
        }
        pieces.push_back({text, number, x});
        x += advance;
    }
    return pieces;
}

void MarkUnrankedCells(std::vector<SiteResult>& cells) {
    for (SiteResult& cell : cells)
        if (cell.rankText == kNotFoundRankText || cell.rankText == kFailedRankText)
            cell.rankNum += CRankingListPage::kUnranked;
}

HistoryKey RowHistoryKey(QueryKind kind, const RankRow& row) {
    if (kind == QueryKind::Natural) return {RankKind::Natural, row.keyword, {}, {}};
    return {RankKind::Paid, row.keyword, row.plan, row.unit};
}

void AttachRankHistory(QueryKind kind, const std::string& dbPath,
                       const std::vector<std::string>& columns, LoadedRows& loaded) {
    // Only rows showing results get marks; the live results are cleared at every start, so a
    // list freshly opened reads nothing here.
    std::vector<HistoryKey> keys;
    std::vector<std::size_t> rowOfKey;
    for (std::size_t row = 0; row < loaded.rows.size(); ++row) {
        if (loaded.rows[row].time.empty()) continue;
        keys.push_back(RowHistoryKey(kind, loaded.rows[row]));
        rowOfKey.push_back(row);
    }
    if (keys.empty()) return;
    RankHistoryReader reader(dbPath);
    const SiteColumnIndex index(columns);
    const bool read = reader.isOpen() && reader.forEachLatestCheck(keys, [&](std::size_t key,
                                                                             KeywordCheck&& check) {
        RankRow& row = loaded.rows[rowOfKey[key]];
        AttachLatestCheck(check, row.time, row.cells, index, loaded.texts, row.standings);
    });
    if (!read)
        for (RankRow& row : loaded.rows) row.standings.clear();
}

CRankingListPage::CRankingListPage(QueryKind kind, RankingPageContext context,
                                   std::vector<TextColumn> columns, QWidget* parent)
    : CYUiEntity(parent),
      m_kind(kind),
      m_context(std::move(context)),
      m_textColumns(std::move(columns)) {
    const std::array<std::pair<const char*, const char*>, kToolCount> tools{{
        {kStartImage, "开始查询"},
        {"_but_tianjia.png", "添加关键词"},
        {"_but_shanchu.png", "删除"},
        {"_but_daoru.png", "导入关键词"},
        {"_but_daorushuoming.png", "导入帮助"},
        {"_btn_daochubaobiao.png", "导出报表"},
    }};
    const std::array<const char*, kToolCount> names{"startButton",      "addButton",
                                                    "deleteButton",     "importButton",
                                                    "importHelpButton", "exportButton"};
    for (std::size_t i = 0; i < tools.size(); ++i) {
        auto* button = new CYButton(this);
        button->setObjectName(QString::fromLatin1(names[i]));
        button->setImage(Q(tools[i].first), 4);
        button->setText(Q(tools[i].second));
        button->setTip(Q(tools[i].second));
        m_tools[i] = button;
    }
    connect(tool(kStart), &CYButton::clicked, this, &CRankingListPage::onStartStop);
    connect(tool(kAdd), &CYButton::clicked, this, [this] { openAddDialog(); });
    connect(tool(kDelete), &CYButton::clicked, this, &CRankingListPage::deleteTicked);
    connect(tool(kImport), &CYButton::clicked, this, &CRankingListPage::importKeywords);
    connect(tool(kImportHelp), &CYButton::clicked, this, &CRankingListPage::showImportHelp);
    connect(tool(kExport), &CYButton::clicked, this, &CRankingListPage::exportKeywords);

    m_list = new CMyReportControl(this);
    m_list->setObjectName(QStringLiteral("keywordList"));
    m_list->setRowSource(this);
    m_list->addReportColumn(QStringLiteral("序号"), 62, false, ReportColumnKind::Check);
    for (const TextColumn& column : m_textColumns)
        m_list->addReportColumn(column.header, column.width, true);
    m_list->addColorRule(Q(kFailedRankText), kFailedCheckColor, true);
    m_list->addColorRule(Q(kQueryingText), kQueryingColor, true);
    connect(m_list, &CMyReportControl::sortRequested, this, &CRankingListPage::sortRows);
    connect(m_list, &CMyReportControl::headerCheckToggled, this, [this](bool checked) {
        checked ? m_list->tickAll() : m_list->untickAll();
        updateStatusLine();
    });
    connect(m_list, &CMyReportControl::ticksChangedByMouse, this,
            &CRankingListPage::updateStatusLine);
    connect(m_list, &CMyReportControl::cellDoubleClicked, this, [this](int row, int column) {
        if (column == 1) copyKeyword(row);
    });
    connect(m_list, &CMyReportControl::rightClicked, this,
            [this](int row, int, QPoint globalPos) { showRightClickMenu(row, globalPos); });

    m_rowMenu = new QMenu(this);
    m_rowMenu->setObjectName(QStringLiteral("rowMenu"));
    m_rowMenu->setFont(SkinFont(13));
    m_rowMenu->addAction(QStringLiteral("删除"), this, &CRankingListPage::deleteTicked);
    m_rowMenu->addAction(QStringLiteral("复制"), this, &CRankingListPage::copyTicked);
    m_rowMenu->addAction(QStringLiteral("排名历史"), this, [this] {
        // The keyword right-clicked, wherever a sort or a reload has put it since.
        if (!m_menuKeywordId) return;
        const auto found = m_idToRow.find(*m_menuKeywordId);
        if (found != m_idToRow.end()) showRankHistory(found->second);
    });

    setSwallowEnterEscape(true);
    syncSites(false);
}

CRankingListPage::~CRankingListPage() {
    if (m_run) {
        // The run carries on without the page until its workers have let go of it.
        m_run->detach();
        RequestStop(m_run->page);
        m_run.reset();
    }
    for (std::thread* worker : {&m_deleteThread, &m_importThread, &m_exportThread})
        if (worker->joinable()) worker->join();
}

int CRankingListPage::selectedCount() const { return m_list->tickedCount(); }

QString CRankingListPage::statusText() const {
    return QStringLiteral("当前选中 [%1] 词，正在查询 [%2] 词，查询完成 [%3] 词，剩余 [%4] 词")
        .arg(selectedCount())
        .arg(m_querying)
        .arg(m_finished)
        .arg(m_remaining);
}

int CRankingListPage::toolbarRight() const {
    const CYButton* last = tool(kExport);
    return last->x() + last->width();
}

void CRankingListPage::layoutSkinControls() {
    if (!m_list) return;
    int x = kToolbarX;
    for (CYButton* button : m_tools) {
        button->move(x, kToolbarY);
        x += button->width() + kToolbarGap;
    }
    m_list->setGeometry(1, kListTop, std::max(width() - 2, 0),
                        std::max(height() - kListTop - 1, 0));
}

void CRankingListPage::drawExtras(QPainter& painter) {
    const QFont plain = SkinFont(12);
    const QFont bold = SkinFont(12, true);
    const int baseline = kStatusY + QFontMetrics(plain).ascent();
    const auto pieces =
        StatusLinePieces({selectedCount(), m_querying, m_finished, m_remaining}, kStatusX,
                         width() - kStatusRightMargin, QFontMetrics(plain), QFontMetrics(bold));
    for (const StatusPiece& piece : pieces) {
        painter.setFont(piece.number ? bold : plain);
        painter.setPen(piece.number ? QColor(255, 0, 0) : QColor(Qt::black));
        painter.drawText(QPoint(piece.x, baseline), piece.text);
    }
}

void CRankingListPage::updateStatusLine() { update(QRect(90, 35, std::max(width() - 92, 0), 35)); }

std::optional<std::size_t> CRankingListPage::siteCell(int row, int column) const {
    if (row < 0 || row >= static_cast<int>(m_rows.size()) || column < firstSiteColumn())
        return std::nullopt;
    return static_cast<std::size_t>(column - firstSiteColumn());
}

int CRankingListPage::cellMove(int row, int column) const {
    const auto cell = siteCell(row, column);
    if (!cell) return 0;
    const RankRow& data = m_rows[static_cast<std::size_t>(row)];
    if (data.querying || *cell >= data.standings.size()) return 0;
    return static_cast<int>(data.standings[*cell].move);
}

QString CRankingListPage::cellToolTip(int row, int column) const {
    const auto cell = siteCell(row, column);
    if (!cell) return {};
    const RankRow& data = m_rows[static_cast<std::size_t>(row)];
    // A tip belongs to a shown result: an empty cell has nothing to compare.
    if (data.querying || *cell >= data.standings.size() || *cell >= data.cells.size() ||
        data.cells[*cell].rankText.empty())
        return {};
    return StandingTip(data.standings[*cell], m_standingTexts);
}

QString CRankingListPage::cellText(int row, int column) const {
    if (row < 0 || row >= static_cast<int>(m_rows.size())) return {};
    const RankRow& data = m_rows[static_cast<std::size_t>(row)];
    if (column == 0) return QString::number(row + 1);
    const int first = firstSiteColumn();
    if (column < first) return Q(data.*(m_textColumns[static_cast<std::size_t>(column - 1)].field));
    const auto cell = static_cast<std::size_t>(column - first);
    if (data.querying) return Q(kQueryingText);
    return cell < data.cells.size() ? Q(data.cells[cell].rankText) : QString();
}

int CRankingListPage::siteCellIndex(const std::string& url) const {
    const auto found = std::find(m_siteColumns.begin(), m_siteColumns.end(), url);
    return found == m_siteColumns.end() ? -1 : static_cast<int>(found - m_siteColumns.begin());
}

void CRankingListPage::rebuildIdMap() {
    m_idToRow.clear();
    m_idToRow.reserve(m_rows.size());
    for (std::size_t row = 0; row < m_rows.size(); ++row)
        m_idToRow[m_rows[row].id] = static_cast<int>(row);
}

std::vector<int> CRankingListPage::tickedIds() const {
    std::vector<int> ids;
    for (int row : m_list->collectTicked())
        if (row < static_cast<int>(m_rows.size()))
            ids.push_back(m_rows[static_cast<std::size_t>(row)].id);
    return ids;
}

void CRankingListPage::installRows(LoadedRows loaded, const std::vector<int>& tickIds) {
    ++m_loadGeneration;
    m_rows = std::move(loaded.rows);
    m_standingTexts = std::move(loaded.texts);
    for (RankRow& row : m_rows) {
        row.cells.resize(m_siteColumns.size());
        if (!row.standings.empty()) row.standings.resize(m_siteColumns.size());
    }
    rebuildIdMap();
    m_list->setRows(static_cast<int>(m_rows.size()));
    for (int id : tickIds) {
        const auto found = m_idToRow.find(id);
        if (found != m_idToRow.end()) m_list->setRowTicked(found->second, true);
    }
    updateStatusLine();
    emit rowsReloaded();
}

std::function<std::optional<LoadedRows>()> CRankingListPage::fullLoader() const {
    return [kind = m_kind, db = m_context.paths.databasePath, columns = m_siteColumns,
            loader = rowLoader()]() -> std::optional<LoadedRows> {
        auto rows = loader();
        if (!rows) return std::nullopt;
        LoadedRows loaded{std::move(*rows), {}};
        AttachRankHistory(kind, db, columns, loaded);
        return loaded;
    };
}

void CRankingListPage::reload() {
    if (auto loaded = fullLoader()()) installRows(std::move(*loaded));
}

void CRankingListPage::reloadAfterAdd(int added) {
    // Ticks are remembered by keyword, not by row: the list may have been sorted since it was
    // loaded, and the reload puts it back in keyword-id order.
    std::vector<int> keep = tickedIds();
    auto loaded = fullLoader()();
    if (!loaded) return;
    const int count = static_cast<int>(loaded->rows.size());
    for (int row = std::max(0, count - added); row < count; ++row)
        keep.push_back(loaded->rows[static_cast<std::size_t>(row)].id);
    installRows(std::move(*loaded), keep);
}

void CRankingListPage::syncSites(bool reloadRows) {
    m_list->syncSiteColumns(firstSiteColumn(), Process().promotionSites());
    const CReportModel* model = m_list->reportModel();
    m_siteColumns.clear();
    for (int column = firstSiteColumn(); column < model->reportColumnCount(); ++column)
        m_siteColumns.push_back(U8(model->column(column).header));
    for (RankRow& row : m_rows) {
        row.cells.resize(m_siteColumns.size());
        if (!row.standings.empty()) row.standings.resize(m_siteColumns.size());
    }
    if (reloadRows)
        reload();
    else
        m_list->refreshAll();
}

void CRankingListPage::setStartBlocked(bool blocked) {
    m_startBlocked = blocked;
    if (!m_run) tool(kStart)->setEnabled(!blocked);
}

void CRankingListPage::setBusyLook(bool busy) {
    CYButton* start = tool(kStart);
    start->setImage(Q(busy ? kStopImage : kStartImage), 4);
    start->setText(busy ? QStringLiteral("停止查询") : QStringLiteral("开始查询"));
    start->setTip(start->text());
    start->setEnabled(busy || !m_startBlocked);
    tool(kAdd)->setEnabled(!busy);
    tool(kImport)->setEnabled(!busy && !importing());
    tool(kExport)->setEnabled(!busy && !exporting());
}

void CRankingListPage::refuseStart(const char* message) {
    Notifier().showMessage(message);
    setBusyLook(false);
    emit runActiveChanged(false);
}

void CRankingListPage::onStartStop() {
    if (m_run) {
        // A second press stops the run; it reports its end by itself.
        m_stopRequested = true;
        RequestStop(m_run->page);
        tool(kStart)->setEnabled(false);
        return;
    }
    if (m_startBlocked) return;
    setBusyLook(true);
    emit runActiveChanged(true);

    const std::vector<PromotionSite> sites = Process().promotionSites();
    if (sites.empty()) return refuseStart(kAddSiteFirst);
    if (std::none_of(sites.begin(), sites.end(), [](const auto& site) { return site.selected; }))
        return refuseStart(kEnableSiteFirst);
    const std::vector<int> ticked = m_list->collectTicked();
    if (ticked.empty()) return refuseStart(kTickKeywordFirst);
    // A run of the other kind in this window, a delete or an import under way, or a run of this
    // kind in another copy of the program: each would clash with this one.
    if (deleting() || importing() || surroundingWorkGoing() || Process().queryRunning ||
        !Process().queryFinished)
        return refuseStart(kQueryBusy);
    auto lock = QueryRunLock::tryAcquire(m_context.paths.dataFolder, m_kind);
    if (!lock) return refuseStart(kQueryBusy);

    std::vector<std::unique_ptr<STRUCT_WORD>> items;
    items.reserve(ticked.size());
    for (int index : ticked) {
        RankRow& row = m_rows[static_cast<std::size_t>(index)];
        auto item = std::make_unique<STRUCT_WORD>();
        item->id = row.id;
        item->keyword = row.keyword;
        item->time = row.time;
        item->unit = row.unit;
        item->plan = row.plan;
        items.push_back(std::move(item));
        row.querying = true;
    }
    m_querying = m_remaining = static_cast<int>(items.size());
    m_finished = 0;
    m_stopRequested = false;
    // Every shown result belongs to this run from now on, like the stored ones.
    for (RankRow& row : m_rows) {
        row.time.clear();
        for (SiteResult& cell : row.cells) cell = SiteResult{};
        row.standings = {};
    }
    attachRunBaselines(ticked);
    if (m_kind == QueryKind::Natural)
        clearNaturalResults(m_context.paths.databasePath);
    else
        clearPaidResults(m_context.paths.databasePath);

    auto run = std::make_shared<RankingRun>(m_kind, this);
    run->lock = std::move(lock);
    QueryPage& page = run->page;
    page.databasePath = m_context.paths.databasePath;
    page.sites = sites;
    page.userAgent = Process().userAgent();
    page.httpTimeoutSeconds = m_context.hosts.httpTimeoutSeconds;
    page.scan.endpoints.webHost = m_context.hosts.searchHost;
    page.scan.endpoints.domain = m_context.hosts.searchDomain;
    if (m_context.prepareRun) m_context.prepareRun(page);
    run->keepAliveUntilEnd(run);
    m_run = run;
    m_list->refreshAll();
    updateStatusLine();
    BeginQueryRun(page, std::move(items));
}

void CRankingListPage::attachRunBaselines(const std::vector<int>& tickedRows) {
    // Read before the workers start, so no store of this run is waited for or seen here.
    std::vector<HistoryKey> keys;
    keys.reserve(tickedRows.size());
    for (int row : tickedRows)
        keys.push_back(RowHistoryKey(m_kind, m_rows[static_cast<std::size_t>(row)]));
    RankHistoryReader reader(m_context.paths.databasePath);
    if (!reader.isOpen()) return;
    const SiteColumnIndex index(m_siteColumns);
    const bool read = reader.forEachLatestCheck(keys, [&](std::size_t key, KeywordCheck&& check) {
        RankRow& row = m_rows[static_cast<std::size_t>(tickedRows[key])];
        AttachLatestCheck(check, {}, row.cells, index, m_standingTexts, row.standings);
    });
    // Without the whole read no result of this run gets a mark, rather than some of them.
    if (!read)
        for (int row : tickedRows) m_rows[static_cast<std::size_t>(row)].standings = {};
}

void CRankingListPage::onKeywordFinished(RankingRun* run, std::unique_ptr<STRUCT_WORD> item) {
    if (run != m_run.get()) return;
    const auto found = m_idToRow.find(item->id);
    if (found != m_idToRow.end()) {
        RankRow& row = m_rows[static_cast<std::size_t>(found->second)];
        for (const STRUCT_SITE& site : item->sites) {
            const int index = siteCellIndex(site.url);
            if (index < 0) continue;
            SiteResult& cell = row.cells[static_cast<std::size_t>(index)];
            cell.url = site.url;
            if (!site.rankText.empty()) {
                cell.rankText = Utf8Prefix(site.rankText, kRankTextMaxBytes);
                cell.rankNum = site.rankNum;
            } else {
                // "无" and failed checks sort after every ranked keyword.
                cell.rankText = site.resultText();
                cell.rankNum = site.rankNum + kUnranked;
            }
            if (static_cast<std::size_t>(index) < row.standings.size()) {
                CellStanding& standing = row.standings[static_cast<std::size_t>(index)];
                standing.move = MoveBetween(standing, cell);
            }
        }
        row.time = LocalTimeText();
        row.querying = false;
        m_list->refreshRow(found->second);
    }
    if (m_remaining > 0) --m_remaining;
    m_finished = m_querying - m_remaining;
    updateStatusLine();
}

void CRankingListPage::onRunEnded(std::shared_ptr<RankingRun> run) {
    // The engine sets the finished flag right after the event returns; the page goes idle only
    // then, so a new run never starts while the last one's worker is still letting go.
    if (!run->page.finishedFlag().load()) {
        QTimer::singleShot(1, this, [this, run] { onRunEnded(run); });
        return;
    }
    if (run != m_run) return;
    m_run.reset();
    run.reset();  // frees the keywords still queued after a stop, and the run lock
    const bool stopped = m_stopRequested;
    m_stopRequested = false;
    for (RankRow& row : m_rows) row.querying = false;
    setBusyLook(false);
    m_list->refreshAll();
    m_querying = m_remaining = 0;
    updateStatusLine();
    emit runActiveChanged(false);
    emit runFinished();
    // A window that is closing has stopped the run itself and shows nothing more.
    if (!windowExiting()) Notifier().showMessage(stopped ? kRunStopped : kRunFinished);
}

bool CRankingListPage::windowExiting() const {
    const auto* main = qobject_cast<const CVelquistDlg*>(window());
    return main && main->exiting();
}

bool CRankingListPage::deleteBusy() const {
    if (m_run) return true;
    // With the start button enabled a run of either kind may be going in this window.
    if (tool(kStart)->isEnabled()) return Process().queryRunning || !Process().queryFinished;
    return false;
}

void CRankingListPage::deleteTicked() {
    if (deleteBusy()) {
        Notifier().showMessage(kPageBusy);
        return;
    }
    if (deleting()) return;
    const std::vector<int> ticked = m_list->collectTicked();
    if (ticked.empty()) {
        Notifier().showMessage(kNoKeywordTicked);
        return;
    }
    if (!Notifier().askYesNo(kConfirmDeleteKeywords, kDefaultCaption)) return;

    std::vector<RankRow> doomed;
    doomed.reserve(ticked.size());
    for (int index : ticked) {
        const RankRow& row = m_rows[static_cast<std::size_t>(index)];
        doomed.push_back(RankRow{row.id, row.keyword, row.unit, row.plan, {}, false, {}, {}});
    }
    m_deleteThread = std::thread([this, kind = m_kind, db = m_context.paths.databasePath,
                                  doomed = std::move(doomed), loader = fullLoader(),
                                  generation = m_loadGeneration] {
        CollectingNotifier notes;
        bool deleted = false;
        if (kind == QueryKind::Natural) {
            std::vector<std::pair<int, std::string>> keys;
            for (const RankRow& row : doomed) keys.emplace_back(row.id, row.keyword);
            deleted = deleteNaturalKeywords(db, keys, notes);
        } else {
            std::vector<PaidKeywordKey> keys;
            for (const RankRow& row : doomed)
                keys.push_back({row.id, row.keyword, row.unit, row.plan});
            deleted = deletePaidKeywords(db, keys, notes);
        }
        std::optional<LoadedRows> rows;
        if (deleted) rows = loader();
        QMetaObject::invokeMethod(
            this,
            [this, deleted, generation, rows = std::move(rows), messages = notes.take()]() mutable {
                onDeleteDone(deleted, generation, std::move(rows), std::move(messages));
            },
            Qt::QueuedConnection);
    });
}

void CRankingListPage::onDeleteDone(bool deleted, int generation, std::optional<LoadedRows> rows,
                                    std::vector<std::string> messages) {
    if (m_deleteThread.joinable()) m_deleteThread.join();
    for (const std::string& message : messages) Notifier().showMessage(message);
    // A failed delete leaves the list as it was. Rows read for a list that has been loaded again
    // meanwhile (the tree's ticks changed) would bring the old filter back: read them anew.
    if (!deleted) return;
    if (rows && generation == m_loadGeneration)
        installRows(std::move(*rows));
    else
        reload();
}

void CRankingListPage::copyTicked() {
    const std::vector<int> ticked = m_list->collectTicked();
    if (ticked.empty()) {
        Notifier().showMessage(kNothingToCopy);
        return;
    }
    QStringList keywords;
    bool anyText = false;
    for (int index : ticked) {
        keywords << Q(m_rows[static_cast<std::size_t>(index)].keyword);
        anyText = anyText || !keywords.back().isEmpty();
    }
    if (!anyText) {
        Notifier().showMessage(kCopyEmpty);
        return;
    }
    // One keyword per line, no line break after the last.
    if (!PutOnClipboard(keywords.join(QLatin1Char('\n')))) {
        Notifier().showMessage(kCopyFailed);
        return;
    }
    Notifier().showMessage(U8(Q(kKeywordsCopied).arg(ticked.size())));
}

void CRankingListPage::copyKeyword(int row) {
    if (row < 0 || row >= static_cast<int>(m_rows.size())) return;
    const QString keyword = Q(m_rows[static_cast<std::size_t>(row)].keyword);
    if (keyword.isEmpty()) {
        Notifier().showMessage(kCopyEmpty);
        return;
    }
    if (!PutOnClipboard(keyword)) {
        Notifier().showMessage(kCopyFailed);
        return;
    }
    Notifier().showMessage(U8(Q(kKeywordCopied).arg(keyword)));
}

void CRankingListPage::showRightClickMenu(int row, QPoint globalPos) {
    if (row < 0 || row >= static_cast<int>(m_rows.size())) return;
    m_menuKeywordId = m_rows[static_cast<std::size_t>(row)].id;
    m_rowMenu->popup(globalPos);
}

std::unique_ptr<CDialogRankHistory> CRankingListPage::rankHistoryDialog(int row) {
    if (row < 0 || row >= static_cast<int>(m_rows.size())) return nullptr;
    const HistoryKey key = RowHistoryKey(m_kind, m_rows[static_cast<std::size_t>(row)]);
    const auto series = LoadRankSeries(m_context.paths.databasePath, key);
    if (!series) {
        Notifier().showMessage(kRankHistoryReadFailed);
        return nullptr;
    }
    std::vector<std::string> sites;
    for (const PromotionSite& site : Process().promotionSites())
        if (site.selected) sites.push_back(site.url);
    return std::make_unique<CDialogRankHistory>(key, sites, *series, this);
}

void CRankingListPage::showRankHistory(int row) {
    if (const auto dialog = rankHistoryDialog(row)) dialog->exec();
}

void CRankingListPage::sortRows(int column, int direction) {
    const int first = firstSiteColumn();
    if (column <= 0 || column >= first + static_cast<int>(m_siteColumns.size())) return;
    m_list->untickAll();
    const bool ascending = direction != MyReportHeader::kOtherDirection;
    // The rows are large; their order is worked out on indices and applied in one pass.
    std::vector<int> order(m_rows.size());
    std::iota(order.begin(), order.end(), 0);
    if (column < first) {
        const auto field = m_textColumns[static_cast<std::size_t>(column - 1)].field;
        // std::string compares as unsigned bytes, the order the list has always used.
        std::stable_sort(order.begin(), order.end(), [this, field, ascending](int a, int b) {
            const std::string& left = m_rows[static_cast<std::size_t>(a)].*field;
            const std::string& right = m_rows[static_cast<std::size_t>(b)].*field;
            return ascending ? left < right : right < left;
        });
    } else {
        const auto cell = static_cast<std::size_t>(column - first);
        std::vector<std::pair<int, int>> keyed(m_rows.size());
        for (std::size_t row = 0; row < m_rows.size(); ++row)
            keyed[row] = {m_rows[row].cells[cell].rankNum, static_cast<int>(row)};
        std::stable_sort(keyed.begin(), keyed.end(), [ascending](const auto& a, const auto& b) {
            return ascending ? a.first < b.first : b.first < a.first;
        });
        for (std::size_t row = 0; row < keyed.size(); ++row) order[row] = keyed[row].second;
    }
    std::vector<RankRow> sorted;
    sorted.reserve(m_rows.size());
    for (int index : order) sorted.push_back(std::move(m_rows[static_cast<std::size_t>(index)]));
    m_rows = std::move(sorted);
    rebuildIdMap();
    m_list->refreshAll();
    updateStatusLine();
}

}  // namespace velquist::ui
