// The keyword files of a ranking page: the import of keyword files, its help picture, and the
// export of the list as a workbook. Reading, adding and writing run on worker threads; their
// messages are shown on the GUI thread once the worker is done.

#include <QDir>
#include <QFile>
#include <QUrl>
#include <ctime>

#include "records/keyword_import.h"
#include "ui/dialog_example.h"
#include "ui/dialog_export_select.h"
#include "ui/file_chooser.h"
#include "ui/message_box.h"
#include "ui/qt_text.h"
#include "ui/ranking_list_page.h"
#include "ui/report_control.h"
#include "ui/skin.h"
#include "ui/url_opener.h"
#include "ui/ybutton.h"

namespace velquist::ui {

namespace {

constexpr const char* kImportFilter = "文件格式 (*.xlsx *.xls *.txt *.csv)";
constexpr const char* kExportFilter = "Worksheet Files (*.xlsx)";
constexpr const char* kWorkbookSuffix = ".xlsx";

// File names go to the libraries in the file system's own bytes.
std::string FileSystemName(const QString& path) { return QFile::encodeName(path).toStdString(); }

}  // namespace

void CRankingListPage::importKeywords() {
    if (importing()) return;
    const QString path = ChooseFile(
        this, {false, QStringLiteral("导入关键词"), QDir::homePath(), {}, Q(kImportFilter)});
    if (path.isEmpty()) return;
    const std::string file = FileSystemName(path);
    if (!HasImportableExtension(file)) {
        Notifier().showMessage(kImportBadExtension);
        return;
    }
    tool(kImport)->setEnabled(false);
    const ImportKind kind = m_kind == QueryKind::Natural ? ImportKind::Natural : ImportKind::Paid;
    m_importThread = std::thread([this, kind, file, db = m_context.paths.databasePath] {
        CollectingNotifier notes;
        std::optional<int> added;
        ImportKeywordFile(db, file, kind, notes, [&added](int count) { added = count; });
        QMetaObject::invokeMethod(
            this,
            [this, added, messages = notes.take()]() mutable {
                onImportDone(added, std::move(messages));
            },
            Qt::QueuedConnection);
    });
}

void CRankingListPage::onImportDone(std::optional<int> added, std::vector<std::string> messages) {
    if (m_importThread.joinable()) m_importThread.join();
    // The list shows the new keywords before the add's last message is read.
    if (added) keywordsImported(*added);
    for (const std::string& message : messages) Notifier().showMessage(message);
    tool(kImport)->setEnabled(!m_run);
    emit importFinished();
}

void CRankingListPage::showImportHelp() {
    CDialogExample help(this);
    help.exec();
}

std::optional<CRankingListPage::ExportRequest> CRankingListPage::exportRowChoice() {
    const std::vector<int> ticked = m_list->collectTicked();
    if (ticked.size() > 1) {
        if (!Notifier().askYesNo(ExportConfirmTicked(ticked.size()), kDefaultCaption))
            return std::nullopt;
        return ExportRequest{ticked, Notifier().askYesNo(kExportHistoryQuestion, kDefaultCaption)};
    }
    CDialogExportSelectSeo wizard(
        m_kind == QueryKind::Natural ? ExportKind::Natural : ExportKind::Paid, this);
    wizard.exec();
    if (!wizard.choice()) return std::nullopt;
    ExportRequest request{{}, wizard.withHistory()};
    for (std::size_t row = 0; row < m_rows.size(); ++row)
        if (MatchesExportChoice(m_rows[row].time, *wizard.choice()))
            request.rows.push_back(static_cast<int>(row));
    return request;
}

ExportTable CRankingListPage::makeExportTable(const std::vector<int>& rows) const {
    ExportTable table;
    table.kind = m_kind == QueryKind::Natural ? ExportKind::Natural : ExportKind::Paid;
    // The enabled sites in site-list order, each with the cell it has in the rows.
    std::vector<std::size_t> cells;
    for (const PromotionSite& site : Process().promotionSites()) {
        const int cell = site.selected ? siteCellIndex(site.url) : -1;
        if (cell < 0) continue;
        table.sites.push_back(site.url);
        cells.push_back(static_cast<std::size_t>(cell));
    }
    table.rows.reserve(rows.size());
    for (int index : rows) {
        const RankRow& row = m_rows[static_cast<std::size_t>(index)];
        ExportRow out{row.keyword, row.plan, row.unit, row.time, {}};
        out.ranks.reserve(cells.size());
        for (std::size_t cell : cells)
            out.ranks.push_back(cell < row.cells.size() ? row.cells[cell].rankText : std::string());
        table.rows.push_back(std::move(out));
    }
    return table;
}

void CRankingListPage::exportKeywords() {
    if (exporting()) return;
    const auto request = exportRowChoice();
    if (!request) return;
    if (request->rows.empty()) {
        Notifier().showMessage(kExportNoKeyword);
        return;
    }
    const ExportKind kind = m_kind == QueryKind::Natural ? ExportKind::Natural : ExportKind::Paid;
    const QString name = Q(DefaultExportFileName(kind, std::time(nullptr))) + kWorkbookSuffix;
    QString path = ChooseFile(
        this, {true, QStringLiteral("导出报表"), ProgramFolder(), name, Q(kExportFilter)});
    if (path.isEmpty()) return;
    if (!path.endsWith(QLatin1String(kWorkbookSuffix), Qt::CaseInsensitive))
        path += kWorkbookSuffix;

    tool(kExport)->setEnabled(false);
    m_exportThread = std::thread(
        [this, table = makeExportTable(request->rows), path, file = FileSystemName(path),
         history = HistoryOption{request->withHistory, m_context.paths.databasePath}] {
            const ExportResult result = WriteExportWorkbook(table, file, history);
            QMetaObject::invokeMethod(
                this, [this, result, path] { onExportDone(result, path); }, Qt::QueuedConnection);
        });
}

void CRankingListPage::onExportDone(const ExportResult& result, const QString& path) {
    if (m_exportThread.joinable()) m_exportThread.join();
    tool(kExport)->setEnabled(!m_run);
    if (!result.written) {
        Notifier().showMessage(result.message);
    } else if (Notifier().askYesNo(ExportOpenQuestion(U8(path)), kDefaultCaption)) {
        // The desktop's program for workbooks opens it.
        if (OpenWebAddress(QUrl::fromLocalFile(path).toString()) < kOpenSucceeded)
            Notifier().showMessage(kExportOpenFailed);
    }
    emit exportFinished();
}

}  // namespace velquist::ui
