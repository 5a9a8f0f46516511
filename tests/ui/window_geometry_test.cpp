// The skinned base: where a press lands, the window's shape, its size limits, and dragging and
// resizing a frameless window where the platform does not take the drag over.

#include "ui/window_geometry.h"

#include <QScreen>
#include <QtTest>

#include "ui/yui_entity.h"
#include "ui_test_support.h"

using velquist::ui::CYUiEntity;
using velquist::ui::HitCode;

Q_DECLARE_METATYPE(velquist::ui::HitCode)

namespace {

// A bare skinned window for the base's own behaviour.
class Entity : public CYUiEntity {
  public:
    explicit Entity(Mode mode, QSize size, QWidget* parent = nullptr) : CYUiEntity(parent) {
        if (mode != Mode::Resizable) resize(size);
        setupSkin(mode);
    }
};

}  // namespace

class WindowGeometryTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { velquist::ui::SetProgramFolder(QStringLiteral(VELQUIST_PROGRAM_DIR)); }

    void hitTest_data() {
        QTest::addColumn<QPoint>("point");  // relative to a 400 x 300 window at (100, 50)
        QTest::addColumn<bool>("resizable");
        QTest::addColumn<bool>("child");
        QTest::addColumn<HitCode>("expected");

        // Edges come first, even inside a corner square; 3 pixels in from the left and top,
        // the last 3 pixels before the right and bottom.
        QTest::newRow("left edge") << QPoint(3, 150) << true << false << HitCode::Left;
        QTest::newRow("just past left edge") << QPoint(4, 40) << true << false << HitCode::Caption;
        QTest::newRow("right edge") << QPoint(397, 150) << true << false << HitCode::Right;
        QTest::newRow("just before right edge")
            << QPoint(396, 150) << true << false << HitCode::Client;
        QTest::newRow("top edge") << QPoint(200, 3) << true << false << HitCode::Top;
        QTest::newRow("bottom edge") << QPoint(200, 297) << true << false << HitCode::Bottom;
        QTest::newRow("outer corner pixel is an edge")
            << QPoint(0, 0) << true << false << HitCode::Left;
        QTest::newRow("top-left corner") << QPoint(10, 10) << true << false << HitCode::TopLeft;
        QTest::newRow("top-right corner") << QPoint(390, 10) << true << false << HitCode::TopRight;
        QTest::newRow("bottom-left corner")
            << QPoint(10, 290) << true << false << HitCode::BottomLeft;
        QTest::newRow("bottom-right corner")
            << QPoint(390, 290) << true << false << HitCode::BottomRight;
        QTest::newRow("past the corner square")
            << QPoint(11, 11) << true << false << HitCode::Caption;
        QTest::newRow("caption bottom line")
            << QPoint(200, 65) << true << false << HitCode::Caption;
        QTest::newRow("below caption") << QPoint(200, 66) << true << false << HitCode::Client;

        // Only the resizable window has edges and corners; the others report nowhere.
        QTest::newRow("dialog edge") << QPoint(2, 30) << false << false << HitCode::Nowhere;
        QTest::newRow("dialog corner") << QPoint(8, 8) << false << false << HitCode::Nowhere;
        QTest::newRow("dialog caption") << QPoint(200, 30) << false << false << HitCode::Caption;
        QTest::newRow("dialog body") << QPoint(200, 120) << false << false << HitCode::Client;
        QTest::newRow("page has no caption") << QPoint(200, 30) << false << true << HitCode::Client;
        QTest::newRow("page edge") << QPoint(200, 1) << false << true << HitCode::Nowhere;
    }

    void hitTest() {
        QFETCH(QPoint, point);
        QFETCH(bool, resizable);
        QFETCH(bool, child);
        QFETCH(HitCode, expected);
        const QRect window(100, 50, 400, 300);
        QCOMPARE(velquist::ui::SkinHitTest(window, window.topLeft() + point, resizable, child),
                 expected);
    }

    void windowShapeCutsEachCornerAlongAFiveByFiveEllipse() {
        const QSize size(200, 100);
        const QRegion shape = velquist::ui::SkinWindowRegion(size, false);
        for (const QPoint corner : {QPoint(0, 0), QPoint(199, 0), QPoint(0, 99), QPoint(199, 99)}) {
            const int dx = corner.x() == 0 ? 1 : -1;
            const int dy = corner.y() == 0 ? 1 : -1;
            QVERIFY(!shape.contains(corner));
            QVERIFY(!shape.contains(corner + QPoint(dx, 0)));
            QVERIFY(!shape.contains(corner + QPoint(0, dy)));
            QVERIFY(shape.contains(corner + QPoint(2 * dx, 0)));
            QVERIFY(shape.contains(corner + QPoint(dx, dy)));
            QVERIFY(shape.contains(corner + QPoint(0, 2 * dy)));
        }
        QVERIFY(shape.contains(QRect(2, 0, 196, 100)));

        const QRegion maximised = velquist::ui::SkinWindowRegion(size, true);
        QCOMPARE(maximised, QRegion(0, 0, 200, 100));
    }

    void restoredGeometry_data() {
        QTest::addColumn<QRect>("screen");
        QTest::addColumn<QRect>("expected");
        QTest::newRow("full hd") << QRect(0, 0, 1920, 1080) << QRect(192, 108, 1536, 864);
        QTest::newRow("second screen") << QRect(1920, 0, 1600, 900) << QRect(2080, 90, 1280, 720);
        // 80 % would be smaller than the minimum; the window keeps 970 x 500, still centred.
        QTest::newRow("small screen") << QRect(0, 0, 1024, 600) << QRect(27, 50, 970, 500);
    }

    void restoredGeometry() {
        QFETCH(QRect, screen);
        QFETCH(QRect, expected);
        QCOMPARE(velquist::ui::RestoredGeometry(screen), expected);
    }

    void resizeKeepsTheMinimumAndTheOppositeEdges_data() {
        QTest::addColumn<HitCode>("code");
        QTest::addColumn<QPoint>("delta");
        QTest::addColumn<QRect>("expected");
        const QRect start(100, 100, 1000, 600);
        Q_UNUSED(start)
        QTest::newRow("right wider")
            << HitCode::Right << QPoint(50, 9) << QRect(100, 100, 1050, 600);
        QTest::newRow("left narrower")
            << HitCode::Left << QPoint(20, 0) << QRect(120, 100, 980, 600);
        QTest::newRow("left stops at minimum")
            << HitCode::Left << QPoint(200, 0) << QRect(130, 100, 970, 600);
        QTest::newRow("top stops at minimum")
            << HitCode::Top << QPoint(0, 500) << QRect(100, 200, 1000, 500);
        QTest::newRow("bottom-right corner")
            << HitCode::BottomRight << QPoint(-500, -500) << QRect(100, 100, 970, 500);
        QTest::newRow("caption is no resize")
            << HitCode::Caption << QPoint(30, 30) << QRect(100, 100, 1000, 600);
    }

    void resizeKeepsTheMinimumAndTheOppositeEdges() {
        QFETCH(HitCode, code);
        QFETCH(QPoint, delta);
        QFETCH(QRect, expected);
        QCOMPARE(velquist::ui::ResizedGeometry(QRect(100, 100, 1000, 600), code, delta,
                                               velquist::ui::kMinimumMainSize),
                 expected);
    }

    void mainWindowStartsAtEightyPercentAndRestoresThere() {
        Entity window(CYUiEntity::Mode::Resizable, {});
        const QRect screen = window.screen()->geometry();
        const QRect restored = velquist::ui::RestoredGeometry(screen);
        QCOMPARE(window.size(), restored.size());

        window.showMaximized();
        QTRY_VERIFY(window.isMaximized());
        QCOMPARE(window.windowShape(), QRegion(QRect(QPoint(0, 0), window.size())));
        window.showNormal();
        QTRY_VERIFY(!window.isMaximized());
        QTRY_COMPARE(window.size(), restored.size());
        const QRect available = window.screen()->availableGeometry();
        QCOMPARE(window.geometry().center().x(), available.center().x());
        QVERIFY(!window.windowShape().contains(QPoint(0, 0)));
    }

    void mainWindowCannotBeMadeSmallerThanTheMinimum() {
        Entity window(CYUiEntity::Mode::Resizable, {});
        window.show();
        window.resize(300, 200);
        QCOMPARE(window.size(), QSize(970, 500));
        QCOMPARE(window.minimumSize(), QSize(970, 500));
    }

    void captionDragMovesTheWindowAndEdgesResizeIt() {
        Entity window(CYUiEntity::Mode::Resizable, {});
        window.show();
        window.setGeometry(50, 40, 1000, 600);
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QTest::mousePress(&window, Qt::LeftButton, {}, QPoint(300, 30));
        QMouseEvent move(QEvent::MouseMove, QPointF(340, 55), window.mapToGlobal(QPointF(340, 55)),
                         Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(&window, &move);
        QTest::mouseRelease(&window, Qt::LeftButton, {}, QPoint(340, 55));
        QCOMPARE(window.geometry(), QRect(90, 65, 1000, 600));

        const QPoint edge(998, 300);
        QTest::mousePress(&window, Qt::LeftButton, {}, edge);
        QMouseEvent drag(QEvent::MouseMove, QPointF(edge) - QPointF(400, 0),
                         window.mapToGlobal(QPointF(edge) - QPointF(400, 0)), Qt::NoButton,
                         Qt::LeftButton, {});
        QApplication::sendEvent(&window, &drag);
        QTest::mouseRelease(&window, Qt::LeftButton, {}, edge);
        QCOMPARE(window.geometry(), QRect(90, 65, 970, 600));
    }

    void maximisedWindowIgnoresCaptionAndEdgePresses() {
        Entity window(CYUiEntity::Mode::Resizable, {});
        window.showMaximized();
        QTRY_VERIFY(window.isMaximized());
        const QRect before = window.geometry();
        QTest::mousePress(&window, Qt::LeftButton, {}, QPoint(300, 30));
        QMouseEvent move(QEvent::MouseMove, QPointF(360, 90), window.mapToGlobal(QPointF(360, 90)),
                         Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(&window, &move);
        QTest::mouseRelease(&window, Qt::LeftButton, {}, QPoint(360, 90));
        QCOMPARE(window.geometry(), before);
    }

    void dialogMovesByItsCaptionButHasNoEdges() {
        Entity dialog(CYUiEntity::Mode::Dialog, QSize(400, 200));
        dialog.show();
        dialog.move(200, 150);
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));

        QTest::mousePress(&dialog, Qt::LeftButton, {}, QPoint(398, 100));
        QMouseEvent pull(QEvent::MouseMove, QPointF(500, 100),
                         dialog.mapToGlobal(QPointF(500, 100)), Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(&dialog, &pull);
        QTest::mouseRelease(&dialog, Qt::LeftButton, {}, QPoint(500, 100));
        QCOMPARE(dialog.geometry(), QRect(200, 150, 400, 200));

        QTest::mousePress(&dialog, Qt::LeftButton, {}, QPoint(200, 20));
        QMouseEvent move(QEvent::MouseMove, QPointF(230, 30), dialog.mapToGlobal(QPointF(230, 30)),
                         Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(&dialog, &move);
        QTest::mouseRelease(&dialog, Qt::LeftButton, {}, QPoint(230, 30));
        QCOMPARE(dialog.geometry(), QRect(230, 160, 400, 200));
    }

    void modesPaintTheirColours() {
        QWidget host;
        host.resize(300, 200);
        Entity page(CYUiEntity::Mode::Child, QSize(200, 120), &host);
        Entity dialog(CYUiEntity::Mode::Dialog, QSize(200, 120));
        const QImage pageImage = page.grab().toImage();
        const QImage dialogImage = dialog.grab().toImage();
        QCOMPARE(pageImage.pixelColor(0, 60), QColor(Qt::white));
        QCOMPARE(pageImage.pixelColor(100, 100), QColor(Qt::white));
        QCOMPARE(dialogImage.pixelColor(0, 60), QColor(79, 84, 135));
        QCOMPARE(dialogImage.pixelColor(100, 100), QColor(240, 245, 249));
        // The caption bar of an ordinary dialog comes from the skin.
        QVERIFY(dialogImage.pixelColor(100, 10) != QColor(240, 245, 249));
    }
};

QTEST_MAIN(WindowGeometryTest)
#include "window_geometry_test.moc"
