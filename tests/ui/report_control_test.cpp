#include "ui/report_control.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <map>
#include <memory>

using namespace velquist;
using namespace velquist::ui;

namespace {

// Answers every cell with "r<row>c<column>" unless a text is set, and counts what was asked.
class TableSource final : public CReportRowSource {
  public:
    QString cellText(int row, int column) const override {
        ++calls;
        lastRowAsked = std::max(lastRowAsked, row);
        if (column == 0) return QString::number(row + 1);
        const auto found = texts.find({row, column});
        return found != texts.end() ? found->second : QStringLiteral("r%1c%2").arg(row).arg(column);
    }
    std::map<std::pair<int, int>, QString> texts;
    mutable int calls = 0;
    mutable int lastRowAsked = -1;
};

constexpr int kLinkColumn = 3;

// A shown list of `rows` rows: tick column (62 wide), two sortable text columns and a link column.
struct ListFixture {
    explicit ListFixture(int rows = 8) {
        list.setRowSource(&source);
        list.addReportColumn(QStringLiteral("序号"), 62, false, ReportColumnKind::Check);
        list.addReportColumn(QStringLiteral("关键词"), 200, true);
        list.addReportColumn(QStringLiteral("查询时间"), 180, true);
        list.addReportColumn(QStringLiteral("删除"), 100, false, ReportColumnKind::Link);
        list.resize(640, 360);
        list.setRows(rows);
        list.show();
    }
    QPoint cell(int row, int column) const {
        return list.visualRect(list.reportModel()->index(row, column)).center();
    }
    QPoint text(int row) const { return cell(row, 1); }
    // A point in the first column at content x.
    QPoint tickArea(int row, int x) const { return QPoint(x, cell(row, 0).y()); }
    QList<int> ticked() const {
        const auto rows = list.collectTicked();
        return QList<int>(rows.begin(), rows.end());
    }
    QWidget* viewport() const { return list.viewport(); }

    TableSource source;
    CMyReportControl list;
};

void Click(ListFixture& f, QPoint at, Qt::KeyboardModifiers modifiers = {}) {
    QTest::mouseClick(f.viewport(), Qt::LeftButton, modifiers, at);
}

}  // namespace

class ReportControlTest : public QObject {
    Q_OBJECT

  private slots:
    void clickRules_data();
    void clickRules();
    void shiftClickTicksFromTheAnchor();
    void dragTicksTheRowsPassedOver();
    void headerBoxFollowsTheTicks();
    void headerBoxClickIsReportedNotSorted();
    void tickAllSkipsLockedRows();
    void colourRules_data();
    void colourRules();
    void tickedRowsAreDrawnWithTheTickedBackground();
    void sortDirectionsAlternatePerColumn();
    void doubleClickAndLinkAndRightClick();
    void rowsAreVirtual();
    void siteColumnsFollowTheEnabledSites();
};

void ReportControlTest::clickRules_data() {
    QTest::addColumn<QList<int>>("before");
    QTest::addColumn<QList<int>>("locked");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("x");  // -1: the row's text
    QTest::addColumn<bool>("ctrl");
    QTest::addColumn<QList<int>>("after");

    const QList<int> five = {0, 1, 2, 3, 4};
    QTest::newRow("text click leaves only that row")
        << five << QList<int>{} << 6 << -1 << false << QList<int>{6};
    QTest::newRow("text click on a ticked row")
        << five << QList<int>{} << 2 << -1 << false << QList<int>{2};
    QTest::newRow("box click adds a row")
        << five << QList<int>{} << 6 << 30 << false << QList<int>{0, 1, 2, 3, 4, 6};
    QTest::newRow("box click removes a row")
        << five << QList<int>{} << 2 << 30 << false << QList<int>{0, 1, 3, 4};
    QTest::newRow("x 50 still counts as the box")
        << five << QList<int>{} << 2 << 50 << false << QList<int>{0, 1, 3, 4};
    QTest::newRow("x 51 is the text") << five << QList<int>{} << 2 << 51 << false << QList<int>{2};
    QTest::newRow("ctrl click on text toggles")
        << five << QList<int>{} << 2 << -1 << true << QList<int>{0, 1, 3, 4};
    QTest::newRow("ctrl click adds")
        << five << QList<int>{} << 7 << -1 << true << QList<int>{0, 1, 2, 3, 4, 7};
    QTest::newRow("text click on a locked row ticks nothing")
        << five << QList<int>{7} << 7 << -1 << false << QList<int>{};
    QTest::newRow("box click on a locked row keeps it clear")
        << five << QList<int>{7} << 7 << 30 << false << five;
}

void ReportControlTest::clickRules() {
    QFETCH(QList<int>, before);
    QFETCH(QList<int>, locked);
    QFETCH(int, row);
    QFETCH(int, x);
    QFETCH(bool, ctrl);
    QFETCH(QList<int>, after);

    ListFixture f;
    for (int r : locked) f.list.setRowLocked(r, true);
    for (int r : before) f.list.setRowTicked(r, true);
    QSignalSpy changed(&f.list, &CMyReportControl::ticksChangedByMouse);

    Click(f, x < 0 ? f.text(row) : f.tickArea(row, x), ctrl ? Qt::ControlModifier : Qt::NoModifier);

    QCOMPARE(f.ticked(), after);
    QCOMPARE(f.list.tickedCount(), after.size());
    QCOMPARE(changed.count(), 1);
}

void ReportControlTest::shiftClickTicksFromTheAnchor() {
    // t: click on the text, b: click in the box at x 10 (left of the anchor margin), B: click in
    // the box at x 30, c: ctrl-click on the text, s: shift-click on the text.
    struct Step {
        char how;
        int row;
    };
    const struct {
        const char* name;
        std::vector<Step> steps;
        QList<int> locked;
        QList<int> after;
    } cases[] = {
        {"down", {{'t', 2}, {'s', 5}}, {}, {2, 3, 4, 5}},
        {"up", {{'t', 5}, {'s', 2}}, {}, {2, 3, 4, 5}},
        {"locked row skipped", {{'t', 2}, {'s', 5}}, {4}, {2, 3, 5}},
        {"box click left of 16 keeps the anchor", {{'t', 1}, {'b', 3}, {'s', 4}}, {}, {1, 2, 3, 4}},
        {"box click right of 16 moves it", {{'t', 1}, {'B', 3}, {'s', 5}}, {}, {3, 4, 5}},
        {"ctrl click keeps it", {{'t', 1}, {'c', 6}, {'s', 3}}, {}, {1, 2, 3}},
        {"shift click does not move it", {{'t', 1}, {'s', 3}, {'s', 0}}, {}, {0, 1}},
        {"no anchor yet", {{'s', 4}}, {}, {4}},
    };
    for (const auto& c : cases) {
        ListFixture f;
        for (int r : c.locked) f.list.setRowLocked(r, true);
        for (const Step& step : c.steps) {
            switch (step.how) {
                case 't':
                    Click(f, f.text(step.row));
                    break;
                case 'b':
                    Click(f, f.tickArea(step.row, 10));
                    break;
                case 'B':
                    Click(f, f.tickArea(step.row, 30));
                    break;
                case 'c':
                    Click(f, f.text(step.row), Qt::ControlModifier);
                    break;
                case 's':
                    Click(f, f.text(step.row), Qt::ShiftModifier);
                    break;
            }
        }
        QVERIFY2(f.ticked() == c.after, c.name);
    }
}

void ReportControlTest::dragTicksTheRowsPassedOver() {
    struct Point {
        int row;
        int x;  // -1: over the row's text
    };
    const struct {
        const char* name;
        QList<int> before;
        QList<int> locked;
        std::vector<Point> path;  // pressed, moved over, released on the last
        QList<int> after;
    } cases[] = {
        {"down", {6}, {}, {{1, -1}, {4, -1}}, {1, 2, 3, 4}},
        {"up", {}, {}, {{4, -1}, {1, -1}}, {1, 2, 3, 4}},
        {"back again", {}, {}, {{1, -1}, {5, -1}, {2, -1}}, {1, 2}},
        {"back onto the pressed row", {}, {}, {{1, -1}, {3, -1}, {1, -1}}, {1}},
        {"locked row skipped", {}, {3}, {{1, -1}, {4, -1}}, {1, 2, 4}},
        // In the box area a move is no drag; the release toggles the row it ends on.
        {"box area", {0}, {}, {{1, 30}, {4, 30}}, {0, 4}},
        // A press in the box that slips onto the text of its own row and back is a box click.
        {"slip within the row", {5}, {}, {{2, 45}, {2, 56}, {2, 45}}, {2, 5}},
    };
    for (const auto& c : cases) {
        ListFixture f;
        for (int r : c.locked) f.list.setRowLocked(r, true);
        for (int r : c.before) f.list.setRowTicked(r, true);
        QSignalSpy changed(&f.list, &CMyReportControl::ticksChangedByMouse);
        auto at = [&](const Point& p) { return p.x < 0 ? f.text(p.row) : f.tickArea(p.row, p.x); };
        QTest::mousePress(f.viewport(), Qt::LeftButton, {}, at(c.path.front()));
        for (std::size_t i = 1; i < c.path.size(); ++i)
            QTest::mouseMove(f.viewport(), at(c.path[i]));
        QTest::mouseRelease(f.viewport(), Qt::LeftButton, {}, at(c.path.back()));
        QVERIFY2(f.ticked() == c.after, c.name);
        QVERIFY2(changed.count() >= 1, c.name);
    }
}

void ReportControlTest::headerBoxFollowsTheTicks() {
    ListFixture f(4);
    MyReportHeader* header = f.list.reportHeader();
    for (int row = 0; row < 4; ++row) {
        QVERIFY(!header->isChecked());
        Click(f, f.tickArea(row, 30));
    }
    QVERIFY(header->isChecked());
    Click(f, f.tickArea(2, 30));
    QVERIFY(!header->isChecked());
    Click(f, f.tickArea(2, 30));
    QVERIFY(header->isChecked());

    // Rows that can never be ticked do not keep the box clear.
    f.list.setRowLocked(3, true);
    QVERIFY(header->isChecked());
    QCOMPARE(f.list.tickedCount(), 3);

    f.list.setRows(4);
    QVERIFY(!header->isChecked());
    QCOMPARE(f.list.tickedCount(), 0);
}

void ReportControlTest::headerBoxClickIsReportedNotSorted() {
    TableSource source;
    CMyReportControl list;
    list.setRowSource(&source);
    list.addReportColumn(QStringLiteral("序号"), 62, true, ReportColumnKind::Check);
    list.addReportColumn(QStringLiteral("关键词"), 200, true);
    list.resize(400, 200);
    list.setRows(3);
    list.show();
    MyReportHeader* header = list.reportHeader();
    QSignalSpy toggled(&list, &CMyReportControl::headerCheckToggled);
    QSignalSpy sorted(&list, &CMyReportControl::sortRequested);
    const int y = std::min(10, header->height() / 2);

    const QRect box(7, 0, 13, header->height());
    const QImage unticked = header->viewport()->grab().toImage().copy(box);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(20, y));
    // What the user sees changes with the state.
    QVERIFY(header->viewport()->grab().toImage().copy(box) != unticked);
    QCOMPARE(toggled.count(), 1);
    QCOMPARE(toggled.at(0).at(0).toBool(), true);
    QVERIFY(header->isChecked());
    // The list leaves the ticking to its page.
    QCOMPARE(list.tickedCount(), 0);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(44, y));
    QCOMPARE(toggled.count(), 2);
    QCOMPARE(toggled.at(1).at(0).toBool(), false);
    QCOMPARE(sorted.count(), 0);

    // Right of the box the first column's header is a sort click like any other.
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(52, y));
    QCOMPARE(toggled.count(), 2);
    QCOMPARE(sorted.count(), 1);
    QCOMPARE(sorted.at(0).at(0).toInt(), 0);
}

void ReportControlTest::tickAllSkipsLockedRows() {
    ListFixture f(5);
    f.list.setRowLocked(1, true);
    f.list.tickAll();
    QCOMPARE(f.ticked(), (QList<int>{0, 2, 3, 4}));
    QCOMPARE(f.list.tickedCount(), 4);
    QVERIFY(f.list.reportHeader()->isChecked());
    f.list.setRowTicked(1, true);
    QVERIFY(!f.list.isRowTicked(1));
    f.list.untickAll();
    QCOMPARE(f.list.tickedCount(), 0);
    QVERIFY(!f.list.reportHeader()->isChecked());
    // Locking a ticked row unticks it.
    f.list.setRowTicked(2, true);
    f.list.setRowLocked(2, true);
    QCOMPARE(f.list.tickedCount(), 0);
}

void ReportControlTest::colourRules_data() {
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QColor>("color");

    const QColor green(7, 179, 144), orange(255, 128, 0), purple(120, 0, 200), teal(0, 128, 128);
    const QColor columnBlue(0, 0, 160);
    QTest::newRow("exact rule wins over a contained one") << 1 << "已启用" << green;
    QTest::newRow("exact rule needs the whole text") << 1 << "已启用了" << orange;
    QTest::newRow("first contained rule in text order") << 1 << "第3名 排名" << purple;
    QTest::newRow("later contained rule") << 1 << "第3名" << teal;
    QTest::newRow("nothing matches: black") << 1 << "无" << QColor(Qt::black);
    QTest::newRow("column colour") << 2 << "无" << columnBlue;
    QTest::newRow("a rule over the column colour") << 2 << "已启用" << green;
    QTest::newRow("links keep the link colour") << kLinkColumn << "已启用" << QColor(0, 0, 255);
}

void ReportControlTest::colourRules() {
    QFETCH(int, column);
    QFETCH(QString, text);
    QFETCH(QColor, color);

    ListFixture f(2);
    f.list.addColorRule(QStringLiteral("已启用"), QColor(7, 179, 144), true);
    f.list.addColorRule(QStringLiteral("启用"), QColor(255, 128, 0), false);
    f.list.addColorRule(QStringLiteral("第"), QColor(0, 128, 128), false);
    f.list.addColorRule(QStringLiteral("排名"), QColor(120, 0, 200), false);
    f.list.setColumnColor(2, QColor(0, 0, 160));
    f.source.texts[{0, column}] = text;

    const QModelIndex index = f.list.reportModel()->index(0, column);
    QCOMPARE(index.data(Qt::ForegroundRole).value<QColor>(), color);
}

void ReportControlTest::tickedRowsAreDrawnWithTheTickedBackground() {
    ListFixture f(4);
    f.list.setRowTicked(1, true);
    const QImage image = f.viewport()->grab().toImage();
    const QRect cell = f.list.visualRect(f.list.reportModel()->index(1, 2));
    const QRect other = f.list.visualRect(f.list.reportModel()->index(2, 2));
    // The right end of the cell, away from its text and the grid line.
    QCOMPARE(QColor(image.pixel(cell.right() - 6, cell.center().y())), QColor(226, 208, 244));
    QCOMPARE(QColor(image.pixel(other.right() - 6, other.center().y())), QColor(Qt::white));
}

void ReportControlTest::sortDirectionsAlternatePerColumn() {
    ListFixture f;
    QHeaderView* header = f.list.reportHeader();
    QSignalSpy sorted(&f.list, &CMyReportControl::sortRequested);
    auto clickHeader = [&](int column) {
        const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
    };
    for (int column : {1, 1, 1, 2, 1, 0, kLinkColumn, 2}) clickHeader(column);

    QList<QPair<int, int>> requests;
    for (const auto& arguments : sorted)
        requests.append({arguments.at(0).toInt(), arguments.at(1).toInt()});
    // Columns 0 and 3 are not sortable and send nothing.
    const QList<QPair<int, int>> expected = {{1, 2}, {1, 3}, {1, 2}, {2, 2}, {1, 2}, {2, 2}};
    QCOMPARE(requests, expected);
}

void ReportControlTest::doubleClickAndLinkAndRightClick() {
    ListFixture f(5);
    QSignalSpy doubled(&f.list, &CMyReportControl::cellDoubleClicked);
    QSignalSpy linked(&f.list, &CMyReportControl::linkClicked);
    QSignalSpy right(&f.list, &CMyReportControl::rightClicked);

    QTest::mouseDClick(f.viewport(), Qt::LeftButton, {}, f.text(3));
    QTest::mouseRelease(f.viewport(), Qt::LeftButton, {}, f.text(3));
    QCOMPARE(doubled.count(), 1);
    QCOMPARE(doubled.at(0).at(0).toInt(), 3);
    QCOMPARE(doubled.at(0).at(1).toInt(), 1);
    QCOMPARE(f.ticked(), QList<int>{3});

    // Below the last row there is no cell to report.
    QTest::mouseDClick(f.viewport(), Qt::LeftButton, {}, QPoint(100, f.viewport()->height() - 5));
    QTest::mouseRelease(f.viewport(), Qt::LeftButton, {}, QPoint(100, f.viewport()->height() - 5));
    QCOMPARE(doubled.count(), 1);

    const QModelIndex link = f.list.reportModel()->index(2, kLinkColumn);
    QCOMPARE(link.data(Qt::ForegroundRole).value<QColor>(), QColor(0, 0, 255));
    Click(f, f.cell(2, kLinkColumn));
    QCOMPARE(linked.count(), 1);
    QCOMPARE(linked.at(0).at(0).toInt(), 2);
    QCOMPARE(linked.at(0).at(1).toInt(), kLinkColumn);
    QCOMPARE(link.data(Qt::ForegroundRole).value<QColor>(), QColor(128, 0, 128));
    // Pressed on one link and released on another: no click.
    QTest::mousePress(f.viewport(), Qt::LeftButton, {}, f.cell(1, kLinkColumn));
    QTest::mouseRelease(f.viewport(), Qt::LeftButton, {}, f.cell(4, kLinkColumn));
    QCOMPARE(linked.count(), 1);

    QTest::mouseClick(f.viewport(), Qt::RightButton, {}, f.cell(4, 2));
    QCOMPARE(right.count(), 1);
    QCOMPARE(right.at(0).at(0).toInt(), 4);
    QCOMPARE(right.at(0).at(1).toInt(), 2);
}

void ReportControlTest::rowsAreVirtual() {
    ListFixture f(0);
    f.list.setRows(100000);
    QCOMPARE(f.list.reportModel()->rowCount(), 100000);
    QVERIFY(QTest::qWaitForWindowExposed(&f.list));
    f.source.calls = 0;
    f.viewport()->grab();
    // Only the cells on screen are asked for: about 15 rows of 4 columns here.
    QVERIFY2(f.source.calls > 0 && f.source.calls < 200,
             qPrintable(QString::number(f.source.calls)));
    QVERIFY(f.source.lastRowAsked < 100);

    f.list.scrollToBottom();
    f.viewport()->grab();
    QCOMPARE(f.source.lastRowAsked, 99999);

    Click(f, f.text(99999));
    QCOMPARE(f.ticked(), QList<int>{99999});
}

void ReportControlTest::siteColumnsFollowTheEnabledSites() {
    ListFixture f(2);
    auto headers = [&] {
        QStringList shown, all;
        for (int c = 4; c < f.list.reportModel()->columnCount(); ++c) {
            const QString h = f.list.reportModel()->headerData(c, Qt::Horizontal).toString();
            all << h;
            if (!f.list.isColumnHidden(c)) shown << h;
        }
        return std::make_pair(all, shown);
    };
    f.list.syncSiteColumns(4, {{"a.com", 1}, {"b.com", 0}, {"c.cn", 1}});
    QCOMPARE(headers().first, (QStringList{"a.com", "b.com", "c.cn"}));
    QCOMPARE(headers().second, (QStringList{"a.com", "c.cn"}));
    QCOMPARE(f.list.columnWidth(4), CMyReportControl::kSiteColumnWidth);

    // A new site gets a column; a removed one keeps its column, hidden.
    f.list.syncSiteColumns(4, {{"a.com", 0}, {"b.com", 1}, {"d.com", 1}});
    QCOMPARE(headers().first, (QStringList{"a.com", "b.com", "c.cn", "d.com"}));
    QCOMPARE(headers().second, (QStringList{"b.com", "d.com"}));
    // The fixed columns before the site columns are never touched.
    QVERIFY(!f.list.isColumnHidden(3));
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ReportControlTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "report_control_test.moc"
