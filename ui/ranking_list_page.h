#pragma once

#include <QColor>
#include <QFontMetrics>
#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "core/host_config.h"
#include "core/paths.h"
#include "engine/query_run.h"
#include "records/rank_history.h"
#include "records/record_types.h"
#include "records/report_export.h"
#include "ui/rank_change_marks.h"
#include "ui/report_model.h"
#include "ui/velquist_dlg.h"
#include "ui/yui_entity.h"

class QMenu;

namespace velquist::ui {

class CDialogRankHistory;
class CMyReportControl;
class CYButton;
class RankingRun;

inline constexpr const char* kQueryingText = "正在查询...";
inline constexpr const char* kRunFinished = "查询完毕！";
inline constexpr const char* kRunStopped = "当前查询已停止！";
inline constexpr const char* kAddSiteFirst = "请添加推广网址";
inline constexpr const char* kEnableSiteFirst = "请选择推广网址";
inline constexpr const char* kTickKeywordFirst = "请先选择关键词";
inline constexpr const char* kPageBusy = "正在查排名，请稍后再试!";
inline constexpr const char* kNoKeywordTicked = "未选择关键词!";
inline constexpr const char* kConfirmDeleteKeywords = "确认删除选中的关键词吗？？";
inline constexpr const char* kNothingToCopy = "您还未选择要复制的关键词！";
inline constexpr const char* kKeywordsCopied = "[ %1 ] 个关键词已成功复制到粘贴板上！";
inline constexpr const char* kKeywordCopied = "【%1】已成功复制到粘贴板上！";
inline constexpr const char* kCopyFailed = "复制失败，请重试！";
inline constexpr const char* kCopyEmpty = "获取关键词失败，请重新操作！";

// A site cell whose check could not be finished stands out from "无", which users act on.
inline const QColor kFailedCheckColor{214, 93, 0};
inline const QColor kQueryingColor{46, 125, 184};

// What a ranking page needs of the program around it.
struct RankingPageContext {
    AppPaths paths;
    HostConfig hosts;
    // Adjusts each run just before it starts; tests use it to drop the waits between keywords.
    std::function<void(QueryPage&)> prepareRun;
};

// One keyword as its list shows it. `cells` has one entry per site column, in column order.
struct RankRow {
    int id = 0;
    std::string keyword;
    std::string unit;  // paid keywords only
    std::string plan;
    std::string time;  // last query, empty when never queried
    bool querying = false;
    std::vector<SiteResult> cells;
    // What each cell is compared with, like `cells`; empty for a keyword without history.
    std::vector<CellStanding> standings;
};

// Reads a page's rows; runs on the GUI thread or on a delete thread, so it carries copies of
// everything it needs.
using RankRowLoader = std::function<std::optional<std::vector<RankRow>>()>;

// Rows as a page installs them: with their standings, whose texts are in `texts`.
struct LoadedRows {
    std::vector<RankRow> rows;
    RankTextPool texts;
};

// The key the rank history keeps a row's checks under: paid keywords with their plan and unit.
HistoryKey RowHistoryKey(QueryKind kind, const RankRow& row);

// Reads the latest checks of the rows that show results, in one read, and gives each of their
// cells its standing. `columns` are the site columns the rows' cells were loaded under. A failed
// read leaves rows without standings: the list is shown all the same, only without marks.
void AttachRankHistory(QueryKind kind, const std::string& dbPath,
                       const std::vector<std::string>& columns, LoadedRows& loaded);

// One piece of the status line: a fixed text or a number, and where it starts.
struct StatusPiece {
    QString text;
    bool number = false;
    int x = 0;
};

// The status line "当前选中 [n] 词，正在查询 [n] 词，查询完成 [n] 词，剩余 [n] 词" as drawn from
// `x` on: the fixed words and the numbers (without their brackets) in turn, measured with their
// fonts. A piece that would pass `limit` is cut to the characters that fit, 12 pixels each, and
// ends with ".."; nothing follows it.
std::vector<StatusPiece> StatusLinePieces(const std::array<int, 4>& values, int x, int limit,
                                          const QFontMetrics& plain, const QFontMetrics& bold);

// Stored "无" and failed results get the same rank-number offset as live ones, so a reloaded
// list sorts them after every ranked keyword too.
void MarkUnrankedCells(std::vector<SiteResult>& cells);

// The part the two ranking lists share: the toolbar, the keyword list with one column per
// promotion site, the status line, the query run with live results, sorting, deleting and
// copying. The natural-ranking page and the paid keyword pane add their own columns, loading and
// add dialog. GUI thread only; the query workers and the delete thread reach it through queued
// calls, and a run outlives the page when the window closes under it.
class CRankingListPage : public CYUiEntity, public QueryRunPage, private CReportRowSource {
    Q_OBJECT

  public:
    enum Tool { kStart = 0, kAdd, kDelete, kImport, kImportHelp, kExport, kToolCount };
    static constexpr int kUnranked = 1000;  // added to the rank number of "无" and failed cells
    static constexpr int kStatusX = 94;
    static constexpr int kStatusY = 41;
    // The status line stops this far before the right edge.
    static constexpr int kStatusRightMargin = 102;

    ~CRankingListPage() override;

    QueryKind kind() const { return m_kind; }
    CMyReportControl* list() const { return m_list; }
    // The list's right-click menu: "删除", "复制", "排名历史".
    QMenu* rowMenu() const { return m_rowMenu; }
    CYButton* tool(Tool which) const { return m_tools[static_cast<std::size_t>(which)]; }
    const std::vector<RankRow>& rows() const { return m_rows; }
    // Headers of the site columns, in column order (hidden ones too).
    const std::vector<std::string>& siteColumns() const { return m_siteColumns; }
    int firstSiteColumn() const { return 1 + static_cast<int>(m_textColumns.size()); }

    int selectedCount() const;
    int queryingCount() const { return m_querying; }
    int finishedCount() const { return m_finished; }
    int remainingCount() const { return m_remaining; }
    QString statusText() const;

    // A run of this page goes, from its start until its end has been handled (a stop may be
    // pending); the main window counts that as a busy query.
    bool runActive() const { return m_run != nullptr; }
    bool queryRunActive() const override { return runActive(); }
    bool stopPending() const { return m_run != nullptr && m_stopRequested; }
    bool deleting() const { return m_deleteThread.joinable(); }
    // A keyword import (file read and add) or an export (workbook write) is under way.
    bool importing() const { return m_importThread.joinable(); }
    bool exporting() const { return m_exportThread.joinable(); }

    // The "排名历史" dialog of a row, not yet shown; nullptr (its message shown) when the
    // history cannot be read.
    std::unique_ptr<CDialogRankHistory> rankHistoryDialog(int row);

  public slots:
    // The start button: starts a run over the ticked rows, or stops the running one.
    void onStartStop();
    void deleteTicked();
    void copyTicked();
    void copyKeyword(int row);
    // "排名历史": the row's keyword's checks as a chart and a table, in a dialog.
    void showRankHistory(int row);
    void sortRows(int column, int direction);
    // Loads the rows again in keyword-id order; ticks are lost.
    void reload();
    // After keywords were added: ticked keywords stay ticked and the `added` last rows, the new
    // keywords, come up ticked.
    void reloadAfterAdd(int added);
    // The site list changed: shows the columns of enabled sites, and reloads the rows when the
    // addresses changed.
    void syncSites(bool reloadRows);
    // The other ranking page runs a query: no start here until it has ended.
    void setStartBlocked(bool blocked);
    // "导入关键词": a file chosen by the user is read and added on a worker thread; the list then
    // reloads with the new keywords ticked.
    void importKeywords();
    // "导入帮助": the picture of the accepted file layouts.
    void showImportHelp();
    // "导出报表": the ticked keywords (two or more) or the ones chosen in the export wizard go
    // into an .xlsx workbook written on a worker thread.
    void exportKeywords();

  signals:
    // True when a start begins (the other page's start button goes disabled), false when the
    // run has ended or the start was refused.
    void runActiveChanged(bool active);
    // A run has ended and the page is idle again.
    void runFinished();
    void rowsReloaded();
    // An import or export thread has finished and its messages have been shown.
    void importFinished();
    void exportFinished();

  protected:
    struct TextColumn {
        QString header;
        int width;
        std::string RankRow::*field;
    };

    CRankingListPage(QueryKind kind, RankingPageContext context, std::vector<TextColumn> columns,
                     QWidget* parent);

    const RankingPageContext& context() const { return m_context; }
    // How this page reads its rows now (filter and site columns as they stand).
    virtual RankRowLoader rowLoader() const = 0;
    virtual void openAddDialog() = 0;
    // Keywords were added by an import: the list reloads with them ticked.
    virtual void keywordsImported(int added) { reloadAfterAdd(added); }
    // Work of the page around the list that a run must not overlap (the paid tree's delete).
    virtual bool surroundingWorkGoing() const { return false; }
    // Disables what must not change during a run; the subclass adds its own controls.
    virtual void setBusyLook(bool busy);
    // The right edge of the toolbar's last button.
    int toolbarRight() const;

    void layoutSkinControls() override;
    void drawExtras(QPainter& painter) override;

    // Installs freshly loaded rows; keeps the ticks of the keyword ids given.
    void installRows(LoadedRows loaded, const std::vector<int>& tickIds = {});
    std::vector<int> tickedIds() const;

  private:
    friend class RankingRun;

    QString cellText(int row, int column) const override;
    int cellMove(int row, int column) const override;
    QString cellToolTip(int row, int column) const override;
    // The site cell of a list column, or nullopt.
    std::optional<std::size_t> siteCell(int row, int column) const;

    // The subclass's loader with the rows' standings added; runs on any thread.
    std::function<std::optional<LoadedRows>()> fullLoader() const;
    // Before a run: what the ticked rows' next results are compared with.
    void attachRunBaselines(const std::vector<int>& tickedRows);

    void refuseStart(const char* message);
    void onKeywordFinished(RankingRun* run, std::unique_ptr<STRUCT_WORD> item);
    void onRunEnded(std::shared_ptr<RankingRun> run);
    void showRightClickMenu(int row, QPoint globalPos);
    void onDeleteDone(bool deleted, int generation, std::optional<LoadedRows> rows,
                      std::vector<std::string> messages);
    void onImportDone(std::optional<int> added, std::vector<std::string> messages);
    struct ExportRequest {
        std::vector<int> rows;
        bool withHistory = false;  // the sheet "排名历史" goes along
    };
    // The rows of an export: the ticked ones, or the choice of the wizard; empty when cancelled.
    std::optional<ExportRequest> exportRowChoice();
    ExportTable makeExportTable(const std::vector<int>& rows) const;
    void onExportDone(const ExportResult& result, const QString& path);
    int siteCellIndex(const std::string& url) const;
    void rebuildIdMap();
    void updateStatusLine();
    bool deleteBusy() const;
    bool windowExiting() const;

    QueryKind m_kind;
    RankingPageContext m_context;
    std::vector<TextColumn> m_textColumns;
    std::vector<std::string> m_siteColumns;
    std::vector<RankRow> m_rows;
    RankTextPool m_standingTexts;  // the texts of the rows' standings
    std::unordered_map<int, int> m_idToRow;
    std::optional<int> m_menuKeywordId;  // the keyword the row menu was opened on

    std::array<CYButton*, kToolCount> m_tools{};
    CMyReportControl* m_list = nullptr;
    QMenu* m_rowMenu = nullptr;

    int m_querying = 0;
    int m_finished = 0;
    int m_remaining = 0;
    bool m_stopRequested = false;
    bool m_startBlocked = false;
    std::shared_ptr<RankingRun> m_run;
    std::thread m_deleteThread;
    std::thread m_importThread;
    std::thread m_exportThread;
    int m_loadGeneration = 0;  // counts the installs of rows
};

}  // namespace velquist::ui
