#pragma once

// What the ranking-page tests share: the search stand-in program on 127.0.0.1, a data folder
// with sites and keywords, and clicks on a keyword list.

#include <QFile>
#include <QProcess>
#include <QTest>
#include <QThread>
#include <chrono>
#include <string>
#include <vector>

#include "core/process_state.h"
#include "core/user_notifier.h"
#include "records/natural_records.h"
#include "records/paid_records.h"
#include "records/site_records.h"
#include "temp_folder.h"
#include "ui/ranking_list_page.h"
#include "ui/report_control.h"

namespace velquist::testing {

// The search stand-in program serving `worldJson` on a free loopback port; stopped (or gone by
// its own lifetime) at the end of the test.
class StandinProcess {
  public:
    explicit StandinProcess(const std::string& worldJson, int lifetimeSeconds = 120) {
        const QString world = QString::fromStdString(m_folder.file("world.json"));
        const QString portFile = QString::fromStdString(m_folder.file("port"));
        QFile file(world);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(worldJson.data(), qint64(worldJson.size())) != qint64(worldJson.size()))
            return;
        file.close();
        const QString program =
            QStringLiteral(VELQUIST_BINARY_DIR "/tools/velquist-search-standin");
        if (!QFile::exists(program)) {
            qWarning("the search stand-in is not built: %s", qPrintable(program));
            return;
        }
        m_process.setProgram(program);
        m_process.setArguments({"--port", "0", "--world", world, "--lifetime",
                                QString::number(lifetimeSeconds), "--port-file", portFile});
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        if (!m_process.waitForStarted(5000)) return;
        for (int i = 0; i < 200 && m_port.isEmpty(); ++i) {
            QFile ports(portFile);
            if (ports.open(QIODevice::ReadOnly))
                m_port = QString::fromLatin1(ports.readAll()).trimmed();
            if (m_port.isEmpty()) QThread::msleep(25);
        }
    }
    ~StandinProcess() {
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) m_process.kill();
        m_process.waitForFinished(3000);
    }
    StandinProcess(const StandinProcess&) = delete;
    StandinProcess& operator=(const StandinProcess&) = delete;

    bool started() const { return !m_port.isEmpty(); }
    std::string host() const { return "127.0.0.1:" + m_port.toStdString(); }

  private:
    TempFolder m_folder;
    QProcess m_process;
    QString m_port;
};

// A world entry: the displayed addresses of result pages (a number stands for that many
// addresses of no planted site) and, for paid runs, the ads of page 1.
inline std::string WorldEntry(const std::string& keyword, const std::string& pages,
                              const std::string& extra = {}) {
    return "\"" + keyword + "\": {\"pages\": " + pages + (extra.empty() ? "" : ", " + extra) + "}";
}

inline std::string World(const std::vector<std::string>& entries) {
    std::string world = R"({"planted_sites": [], "keywords": {)";
    for (std::size_t i = 0; i < entries.size(); ++i) world += (i ? "," : "") + entries[i];
    return world + "}}";
}

// Sites of the data folder's database, loaded into the process-wide list as at start.
inline void UseSites(const std::string& dbPath, const std::vector<PromotionSite>& sites) {
    if (!SaveSites(dbPath, sites)) qFatal("cannot store the test sites");
    Process().siteColumnCount = ReloadSiteList(dbPath);
}

inline void AddNatural(const std::string& dbPath, const std::vector<std::string>& keywords) {
    SilentNotifier silent;
    if (!addNaturalKeywords(dbPath, keywords, silent).committed) qFatal("cannot add keywords");
}

// Runs go without the pauses between keywords and pages; the fetches are real.
inline void NoPauses(QueryPage& page) {
    page.scan.sleep = [](std::chrono::milliseconds) {};
}

inline QString Cell(const ui::CMyReportControl* list, int row, int column) {
    return list->reportModel()->index(row, column).data().toString();
}

// The row showing `keyword` in the keyword column, or -1.
inline int RowOf(const ui::CMyReportControl* list, const QString& keyword) {
    for (int row = 0; row < list->reportModel()->rowCount(); ++row)
        if (Cell(list, row, 1) == keyword) return row;
    return -1;
}

// The column whose header is `header`, or -1.
inline int ColumnOf(const ui::CMyReportControl* list, const QString& header) {
    const auto* model = list->reportModel();
    for (int column = 0; column < model->reportColumnCount(); ++column)
        if (model->column(column).header == header) return column;
    return -1;
}

// A click in the row's tick box: adds or removes just that row.
inline void ClickTick(ui::CMyReportControl* list, int row) {
    const QModelIndex index = list->reportModel()->index(row, 0);
    list->scrollTo(index);
    const QRect rect = list->visualRect(index);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      QPoint(rect.left() + 20, rect.center().y()));
}

inline void ClickHeaderBox(ui::CMyReportControl* list) {
    QTest::mouseClick(list->reportHeader()->viewport(), Qt::LeftButton, {},
                      list->reportHeader()->boxRect().center());
}

inline void ClickHeader(ui::CMyReportControl* list, int column) {
    auto* header = list->reportHeader();
    const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
}

inline QStringList ColumnTexts(const ui::CMyReportControl* list, int column) {
    QStringList texts;
    for (int row = 0; row < list->reportModel()->rowCount(); ++row)
        texts << Cell(list, row, column);
    return texts;
}

}  // namespace velquist::testing
