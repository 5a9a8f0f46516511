// The keyword files of the ranking pages: imports of every file kind on both pages with the new
// rows ticked, the refusals with their texts, the import help, and exports through both paths,
// read back by an independent reader (Python's openpyxl).

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTreeWidget>
#include <QtTest>
#include <memory>

#include "rank_history_test_support.h"
#include "ranking_test_support.h"
#include "ui/dialog_example.h"
#include "ui/dialog_export_select.h"
#include "ui/dialog_sem.h"
#include "ui/dialog_seo.h"
#include "ui/file_chooser.h"
#include "ui/skin.h"
#include "ui/ybutton.h"
#include "ui_test_support.h"

using namespace velquist;
using namespace velquist::testing;
using velquist::ui::CDialogExportSelectSeo;
using velquist::ui::CDialogSem;
using velquist::ui::CDialogSeo;
using velquist::ui::CRankingListPage;
using velquist::ui::FileRequest;

namespace {

constexpr int kWaitMs = 20000;
const QString kAlpha = QStringLiteral("www.alpha.com");
const QString kBeta = QStringLiteral("shop.beta.cn");
const QString kGamma = QStringLiteral("www.gamma.com");

// Debian's interpreter, where python3-openpyxl and python3-xlwt live.
const QString kPython = QStringLiteral("/usr/bin/python3");

// Runs a Python script with arguments; its standard output, or a failed test.
QString RunPython(const QString& script, const QStringList& args) {
    QProcess python;
    python.start(kPython, QStringList{QStringLiteral("-c"), script} + args);
    if (!python.waitForFinished(30000) || python.exitCode() != 0) {
        qWarning("python failed: %s", python.readAllStandardError().constData());
        return QStringLiteral("<python failed>");
    }
    return QString::fromUtf8(python.readAllStandardOutput());
}

// A sheet of a workbook as openpyxl reads it: the sheet's name, then one line per row, cells
// joined by tabs. Nothing when the workbook has no such sheet.
QStringList ReadWorkbook(const QString& path, int sheet = 0) {
    const QString out = RunPython(QStringLiteral(R"(import sys, openpyxl
wb = openpyxl.load_workbook(sys.argv[1])
if int(sys.argv[2]) < len(wb.worksheets):
    ws = wb.worksheets[int(sys.argv[2])]
    sys.stdout.write(ws.title + '\n')
    for row in ws.iter_rows(values_only=True):
        sys.stdout.write('\t'.join('' if v is None else str(v) for v in row) + '\n')
)"),
                                  {path, QString::number(sheet)});
    QStringList lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (sheet == 0 && !lines.isEmpty()) lines.removeFirst();  // the first sheet's name is Excel's
    return lines;
}

// The list as a person reads it: the keyword and every visible column after it.
QStringList VisibleRows(const ui::CMyReportControl* list, const QList<int>& rows) {
    QStringList lines;
    const auto* model = list->reportModel();
    for (int row : rows) {
        QStringList cells;
        for (int column = 1; column < model->reportColumnCount(); ++column)
            if (!list->isColumnHidden(column)) cells << Cell(list, row, column);
        lines << cells.join(QLatin1Char('\t'));
    }
    return lines;
}

QStringList VisibleHeaders(const ui::CMyReportControl* list) {
    QStringList headers;
    const auto* model = list->reportModel();
    for (int column = 1; column < model->reportColumnCount(); ++column)
        if (!list->isColumnHidden(column)) headers << model->column(column).header;
    return {headers.join(QLatin1Char('\t'))};
}

QByteArray Utf16Le(const QString& text) {
    QByteArray bytes("\xFF\xFE", 2);
    for (QChar c : text) {
        bytes += static_cast<char>(c.unicode() & 0xFF);
        bytes += static_cast<char>(c.unicode() >> 8);
    }
    return bytes;
}

// A row as the import cases name it: the keyword, and for paid rows its unit and plan.
QString RowLine(const ui::CMyReportControl* list, int row, bool paid) {
    QStringList cells{Cell(list, row, 1)};
    if (paid) cells << Cell(list, row, 2) << Cell(list, row, 3);
    return cells.join(QLatin1Char('\t'));
}

QList<int> TickedRows(const ui::CMyReportControl* list) {
    QList<int> rows;
    for (int row : list->collectTicked()) rows << row;
    return rows;
}

// Answers every file dialog with the next scripted path ("" cancels) and keeps the requests.
class ScriptedChooser {
  public:
    ScriptedChooser() {
        ui::SetFileChooser([this](const FileRequest& request) {
            requests.push_back(request);
            if (answers.empty()) return QString();
            const QString answer = answers.front();
            answers.pop_front();
            return answer;
        });
    }
    ~ScriptedChooser() { ui::SetFileChooser({}); }
    ScriptedChooser(const ScriptedChooser&) = delete;
    ScriptedChooser& operator=(const ScriptedChooser&) = delete;

    std::deque<QString> answers;
    std::vector<FileRequest> requests;
};

// Three sites (the third disabled), natural keywords 旧词一 and 旧词二, paid keyword 旧付费词 in
// plan 春季推广 / unit 鲜花, and both pages.
struct FilesFixture {
    FilesFixture() {
        ResetProcessFlags();
        Process().firstNewKeywordId = -1;
        UseSites(data.paths.databasePath,
                 {{kAlpha.toStdString(), 1}, {kBeta.toStdString(), 1}, {kGamma.toStdString(), 0}});
        AddNatural(data.paths.databasePath, {"旧词一", "旧词二"});
        SilentNotifier silent;
        if (!addPaidKeywords(data.paths.databasePath, {{"旧付费词", "鲜花", "春季推广"}}, silent)
                 .committed)
            qFatal("cannot add the paid keyword");
        Process().firstNewKeywordId = -1;
        ui::RankingPageContext context;
        context.paths = data.paths;
        natural = std::make_unique<CDialogSeo>(context);
        natural->resize(1100, 500);
        natural->show();
        paid = std::make_unique<CDialogSem>(context);
        paid->resize(1100, 500);
        paid->show();
    }
    ~FilesFixture() {
        natural.reset();
        paid.reset();
        ResetProcessFlags();
    }

    QString file(const QString& name) const {
        return QString::fromStdString(data.folder.path()) + QLatin1Char('/') + name;
    }
    QString write(const QString& name, const QByteArray& bytes) const {
        QFile out(file(name));
        if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(name));
        return out.fileName();
    }
    CRankingListPage* page(bool paidPage) const {
        return paidPage ? static_cast<CRankingListPage*>(paid->keywordPane()) : natural.get();
    }
    // Presses the page's button and waits until its worker has reported back.
    void importThrough(CRankingListPage* page) const {
        QSignalSpy done(page, &CRankingListPage::importFinished);
        QTest::mouseClick(page->tool(CRankingListPage::kImport), Qt::LeftButton);
        if (page->importing()) QVERIFY(done.wait(kWaitMs));
    }
    void exportThrough(CRankingListPage* page) const {
        QSignalSpy done(page, &CRankingListPage::exportFinished);
        QTest::mouseClick(page->tool(CRankingListPage::kExport), Qt::LeftButton);
        if (page->exporting()) QVERIFY(done.wait(kWaitMs));
    }

    DataFolder data;
    ScriptedNotifier notifier;
    ScriptedChooser chooser;
    RecordingOpener opener;
    std::unique_ptr<CDialogSeo> natural;
    std::unique_ptr<CDialogSem> paid;
};

}  // namespace

class KeywordFilesTest : public QObject {
    Q_OBJECT

  private slots:
    void everyFileKindImportsOnBothPagesWithTheNewRowsTicked() {
        const struct Case {
            const char* name;
            bool paid;
            const char* file;
            QByteArray text;       // the file's bytes, for text files
            const char* workbook;  // Python building `ws`, for workbooks
            QStringList rows;      // keyword (paid: unit, plan) of the new rows, in list order
            bool repeated;         // the file holds a keyword the list has already
        } cases[] = {
            {"natural txt, UTF-8 mark and CRLF",
             false,
             "words.txt",
             QByteArray("\xEF\xBB\xBF  鲜花速递 \r\n办公家具\r\n\r\n旧词一\r\n"),
             nullptr,
             {"鲜花速递", "办公家具"},
             true},
            {"natural csv in UTF-16 LE",
             false,
             "words.csv",
             Utf16Le(QStringLiteral("玫瑰花,批发\r\nwedding")),
             nullptr,
             {"玫瑰花,批发", "wedding"},
             false},
            {"natural xlsx with the heading in B1 and a number",
             false,
             "words.xlsx",
             {},
             "ws['A1'] = 'x'\nws['B1'] = '关键词'\nws['B2'] = '鲜花'\nws['B3'] = 12345\n"
             "ws['B5'] = '空行之后'",
             {"鲜花", "12345"},
             false},
            {"paid xls with plan and unit columns",
             true,
             "paid.xls",
             {},
             "for c, h in enumerate(['推广单元', '关键词', '推广计划']): ws.write(0, c, h)\n"
             "ws.write(1, 0, '家具'); ws.write(1, 1, '办公桌'); ws.write(1, 2, '秋季推广')\n"
             "ws.write(2, 1, '会议桌')",
             {"办公桌\t家具\t秋季推广", "会议桌\t默认\t默认"},
             false},
            {"paid txt goes to 默认",
             true,
             "paid.txt",
             QByteArray("礼品卡\n旧付费词\n"),
             nullptr,
             {"礼品卡\t默认\t默认", "旧付费词\t默认\t默认"},
             false},
        };
        for (const Case& c : cases) {
            FilesFixture f;
            CRankingListPage* page = f.page(c.paid);
            const QString path = f.file(QString::fromUtf8(c.file));
            if (c.workbook) {
                const bool xls = path.endsWith(QLatin1String(".xls"));
                RunPython(QStringLiteral("import sys, openpyxl, xlwt\n") +
                              (xls ? QStringLiteral("wb = xlwt.Workbook(encoding='utf-8')\n"
                                                    "ws = wb.add_sheet('S1')\n")
                                   : QStringLiteral("wb = openpyxl.Workbook()\nws = wb.active\n")) +
                              QString::fromUtf8(c.workbook) +
                              QStringLiteral("\nwb.save(sys.argv[1])\n"),
                          {path});
            } else {
                f.write(QString::fromUtf8(c.file), c.text);
            }
            // A keyword ticked before the import stays ticked.
            page->list()->setRowTicked(0, true);
            const QString ticked = RowLine(page->list(), 0, c.paid);
            f.chooser.answers = {path};
            f.importThrough(page);

            QVERIFY2(!f.chooser.requests.front().save, c.name);
            QCOMPARE(f.chooser.requests.front().filter,
                     QStringLiteral("文件格式 (*.xlsx *.xls *.txt *.csv)"));
            QCOMPARE(f.notifier.messages,
                     std::vector<std::string>{
                         c.repeated ? "您添加的内容包含已有的或重复的项，其余项已添加完毕"
                                    : "添加完毕"});
            QStringList shown;
            for (int row : TickedRows(page->list())) shown << RowLine(page->list(), row, c.paid);
            QCOMPARE(shown, QStringList{ticked} + c.rows);
            // The tree shows the plans and units the file brought.
            for (const QString& row : c.rows)
                for (const QString& name : row.split(QLatin1Char('\t')).mid(1))
                    QVERIFY2(!f.paid->treePane()
                                  ->tree()
                                  ->findItems(name, Qt::MatchExactly | Qt::MatchRecursive)
                                  .isEmpty(),
                             qPrintable(name));
            QVERIFY(page->tool(CRankingListPage::kImport)->isEnabled());
        }
    }

    void refusedFilesAddNothingAndSayWhy() {
        const struct Case {
            const char* file;
            QByteArray bytes;
            const char* message;
        } cases[] = {
            {"WORDS.TXT", "鲜花\r\n", "文件扩展名不正确"},
            {"words.doc", "鲜花\r\n", "文件扩展名不正确"},
            {"blank.txt", " \r\n\t\r\n\r\n", "该文档无内容"},
            {"renamed.xlsx", "this is text, not a zip", "无法导入的文档"},
            {"text.xls", "关键词\r\n鲜花\r\n", "无法导入的文档"},
            {"missing.txt", {}, "无法导入的文档"},
        };
        for (const Case& c : cases) {
            FilesFixture f;
            const QString name = QString::fromUtf8(c.file);
            const QString path = c.bytes.isNull() ? f.file(name) : f.write(name, c.bytes);
            for (bool paid : {false, true}) {
                f.notifier.messages.clear();
                f.chooser.answers = {path};
                f.importThrough(f.page(paid));
                QCOMPARE(f.notifier.messages, std::vector<std::string>{c.message});
            }
            QCOMPARE(f.data.count("SELECT COUNT(*) FROM seokeyword"), 2);
            QCOMPARE(f.data.count("SELECT COUNT(*) FROM keyword"), 1);
        }

        // A workbook without the heading follows the rules' message.
        FilesFixture f;
        const QString workbook = f.file(QStringLiteral("no-heading.xlsx"));
        RunPython(QStringLiteral("import sys, openpyxl\nwb = openpyxl.Workbook()\n"
                                 "wb.active['A1'] = '词'\nwb.active['A2'] = '鲜花'\n"
                                 "wb.save(sys.argv[1])\n"),
                  {workbook});
        f.chooser.answers = {workbook};
        f.importThrough(f.natural.get());
        QCOMPARE(f.notifier.messages,
                 std::vector<std::string>{"导入的Excel不符合规则，请查看“导入说明”！"});

        // A cancelled file dialog does nothing at all.
        f.notifier.messages.clear();
        f.importThrough(f.natural.get());
        QVERIFY(f.notifier.messages.empty());
        QCOMPARE(f.data.count("SELECT COUNT(*) FROM seokeyword"), 2);
    }

    void aRunningImportKeepsTheWindowFreeAndBlocksAQueryStart() {
        FilesFixture f;
        QByteArray lines;
        for (int i = 0; i < 100000; ++i) lines += "关键词" + QByteArray::number(i) + "\r\n";
        f.chooser.answers = {f.write(QStringLiteral("big.txt"), lines)};
        QSignalSpy done(f.natural.get(), &CRankingListPage::importFinished);
        QTest::mouseClick(f.natural->tool(CRankingListPage::kImport), Qt::LeftButton);
        // The click has returned while the file is still being read and added.
        QVERIFY(f.natural->importing());
        QVERIFY(!f.natural->tool(CRankingListPage::kImport)->isEnabled());
        f.natural->list()->setRowTicked(0, true);
        QTest::mouseClick(f.natural->tool(CRankingListPage::kStart), Qt::LeftButton);
        QCOMPARE(f.notifier.messages, std::vector<std::string>{"正在查排名，请稍后再试。"});
        QVERIFY(!f.natural->runActive());
        QVERIFY(done.wait(kWaitMs));
        QCOMPARE(f.natural->rows().size(), std::size_t(100002));
        QCOMPARE(f.natural->list()->tickedCount(), 100001);
    }

    void importHelpShowsThePictureUnderItsCaption() {
        FilesFixture f;
        bool shown = false;
        WhenModalShown<ui::CDialogExample>([&shown](ui::CDialogExample* help) {
            shown = help->captionText() == QStringLiteral("导入说明") &&
                    help->pictureRect().size() ==
                        QPixmap(ui::SkinPath(QStringLiteral("daorushuoming.png"))).size() &&
                    !help->pictureRect().isEmpty();
        });
        QTest::mouseClick(f.paid->keywordPane()->tool(CRankingListPage::kImportHelp),
                          Qt::LeftButton);
        QVERIFY(shown);
    }

    void tickedRowsExportAsTheListShowsThem() {
        FilesFixture f;
        f.data.exec(
            "UPDATE seokeyword SET time='2026-05-01 10:00:00';"
            "INSERT INTO seorank (keywordId,url,rank,rankNum) VALUES "
            "(1,'www.alpha.com','第3名，第1页',3),(1,'shop.beta.cn','无',10),"
            "(1,'www.gamma.com','第1名，第1页',1),(2,'www.alpha.com','查询失败',0)");
        // An earlier run's check of 旧词一, for the sheet "排名历史".
        const std::int64_t checked = 1777600000;
        AppendCheck(
            f.data.paths.databasePath, {RankKind::Natural, "旧词一", "", ""}, checked,
            {Ranked("www.alpha.com", 5), Absent("shop.beta.cn"), Ranked("www.gamma.com", 1)});
        f.natural->reload();
        f.natural->list()->tickAll();
        const QString target = f.file(QStringLiteral("report"));
        f.chooser.answers = {target};
        f.notifier.answers = {true, true, true};
        f.exportThrough(f.natural.get());

        QCOMPARE(f.notifier.questions.front(),
                 std::string("你总共选择了[ 2 ]个关键词。确定导出吗？"));
        QCOMPARE(f.notifier.questions.at(1),
                 std::string("是否同时导出这些关键词的排名历史？（第二个工作表“排名历史”）"));
        const FileRequest& request = f.chooser.requests.front();
        QVERIFY(request.save);
        QCOMPARE(request.folder, ui::ProgramFolder());
        QVERIFY2(QRegularExpression(QStringLiteral(R"(^\d{4}-\d\d-\d\d_\d\d-\d\d-\d\dSEO\.xlsx$)"))
                     .match(request.defaultName)
                     .hasMatch(),
                 qPrintable(request.defaultName));
        // The chosen name gets its extension; the workbook holds what the list shows, the
        // disabled site left out.
        const QString written = target + QStringLiteral(".xlsx");
        QCOMPARE(ReadWorkbook(written),
                 VisibleHeaders(f.natural->list()) + VisibleRows(f.natural->list(), {0, 1}));
        QCOMPARE(ReadWorkbook(written).front(),
                 QStringLiteral("关键词\t查询时间\tshop.beta.cn\twww.alpha.com"));
        // The history of the exported keywords and sites follows on its own sheet.
        const QString time = QString::fromStdString(FormatLocalTime(checked));
        QCOMPARE(
            ReadWorkbook(written, 1),
            (QStringList{QStringLiteral("排名历史"), QStringLiteral("关键词\t网址\t查询时间\t排名"),
                         QStringLiteral("旧词一\tshop.beta.cn\t") + time + QStringLiteral("\t无"),
                         QStringLiteral("旧词一\twww.alpha.com\t") + time +
                             QStringLiteral("\t第5名，第1页")}));
        QCOMPARE(f.notifier.questions.back(), "成功导出文件 [ report.xlsx ] \r\n到 [ " +
                                                  f.data.folder.path() +
                                                  " ] \r\n需要现在打开该文件吗 ？");
        QCOMPARE(f.opener.opened, std::vector<QString>{QUrl::fromLocalFile(written).toString()});
        QVERIFY(f.natural->tool(CRankingListPage::kExport)->isEnabled());
    }

    void theWizardChoosesWhichKeywordsOfTheListGo() {
        const struct Case {
            const char* button;
            QList<int> rows;  // of the paid list: 旧付费词 (queried), 新词 (not)
            bool history;     // the wizard's box for the sheet "排名历史"
        } cases[] = {
            {"allButton", {0, 1}, true},
            {"finishedButton", {0}, false},
            {"unqueriedButton", {1}, false},
        };
        for (const Case& c : cases) {
            FilesFixture f;
            SilentNotifier silent;
            addPaidKeywords(f.data.paths.databasePath, {{"新词", "家具", "春季推广"}}, silent);
            f.data.exec(
                "UPDATE keyword SET time='2026-05-01 10:00:00' WHERE keyword='旧付费词';"
                "INSERT INTO semrank (keywordId,url,rank,rankNum) VALUES "
                "(1,'www.alpha.com','左1',1),(1,'shop.beta.cn','右2',52)");
            f.paid->reloadAfterAdd(0);
            CRankingListPage* pane = f.paid->keywordPane();
            pane->list()->untickAll();
            QCOMPARE(pane->rows().size(), std::size_t(2));
            const QString target = f.file(QStringLiteral("paid.xlsx"));
            f.chooser.answers = {target};
            f.notifier.answers = {false};
            bool wizard = false;
            WhenModalShown<CDialogExportSelectSeo>([&wizard, &c](CDialogExportSelectSeo* dialog) {
                wizard = dialog->captionText() == QStringLiteral("导出向导") &&
                         dialog->kind() == ExportKind::Paid && !dialog->withHistory();
                if (c.history) QTest::mouseClick(dialog->historyBox(), Qt::LeftButton);
                QTest::mouseClick(dialog->findChild<ui::CYButton*>(QString::fromUtf8(c.button)),
                                  Qt::LeftButton);
            });
            f.exportThrough(pane);
            QVERIFY2(wizard, c.button);
            QVERIFY(QRegularExpression(QStringLiteral("SEM\\.xlsx$"))
                        .match(f.chooser.requests.front().defaultName)
                        .hasMatch());
            // Paid workbooks put the plan before the unit, the list the other way round.
            QStringList expected{QStringLiteral(
                "关键词\t推广计划\t推广单元\t查询时间\tshop.beta.cn\twww.alpha.com")};
            for (int row : c.rows) {
                QStringList cells;
                for (int column : {1, 3, 2, 4, 5, 6}) cells << Cell(pane->list(), row, column);
                expected << cells.join(QLatin1Char('\t'));
            }
            QCOMPARE(ReadWorkbook(target), expected);
            QCOMPARE(ReadWorkbook(target, 1).value(0),
                     c.history ? QStringLiteral("排名历史") : QString());
            // No: the file stays closed.
            QVERIFY(f.opener.opened.empty());
        }
    }

    void exportsThatCannotGoSayWhy() {
        FilesFixture f;
        // Nothing queried yet, so "查询完毕的" has no keyword.
        WhenModalShown<CDialogExportSelectSeo>([](CDialogExportSelectSeo* dialog) {
            QTest::mouseClick(dialog->choiceButton(ExportChoice::Finished), Qt::LeftButton);
        });
        f.exportThrough(f.natural.get());
        QCOMPARE(f.notifier.messages, std::vector<std::string>{"请先选择关键词"});
        QVERIFY(f.chooser.requests.empty());

        // The wizard cancelled, then the save dialog cancelled: nothing happens.
        f.notifier.messages.clear();
        WhenModalShown<CDialogExportSelectSeo>([](CDialogExportSelectSeo* dialog) {
            QTest::mouseClick(dialog->findChild<ui::CYButton*>(QStringLiteral("cancelButton")),
                              Qt::LeftButton);
        });
        f.exportThrough(f.natural.get());
        WhenModalShown<CDialogExportSelectSeo>([](CDialogExportSelectSeo* dialog) {
            QTest::mouseClick(dialog->choiceButton(ExportChoice::All), Qt::LeftButton);
        });
        f.exportThrough(f.natural.get());
        QVERIFY(f.notifier.messages.empty());
        QCOMPARE(f.chooser.requests.size(), std::size_t(1));

        // A folder that does not exist, then a desktop that cannot open the file.
        f.natural->list()->tickAll();
        f.chooser.answers = {f.file(QStringLiteral("no/such/folder/r.xlsx")),
                             f.file(QStringLiteral("r.xlsx"))};
        f.notifier.answers = {true, false, true, false, true};
        f.exportThrough(f.natural.get());
        QCOMPARE(f.notifier.messages, std::vector<std::string>{"导出失败，无法保存该文件！"});
        f.opener.setCode(ui::kOpenNoAssociation);
        f.exportThrough(f.natural.get());
        QCOMPARE(f.notifier.messages.back(), std::string("打开文件失败，请手动打开该文件！"));
        QVERIFY(QFile::exists(f.file(QStringLiteral("r.xlsx"))));
    }
};

QTEST_MAIN(KeywordFilesTest)
#include "keyword_files_test.moc"
