// The image button: which frame of its strip it shows in each state, how the mouse moves it
// between states, and its tooltip.

#include "ui/ybutton.h"

#include <QPainter>
#include <QToolTip>
#include <QtTest>

#include "ui_test_support.h"

using velquist::ui::CYButton;

namespace {

const QColor kFrameColours[] = {Qt::red, Qt::green, Qt::blue, Qt::yellow};

// A strip whose frames are solid, distinct colours, so the drawn frame can be told by a pixel.
QPixmap Strip(int frames, QSize frame = QSize(20, 10)) {
    QPixmap strip(frame.width() * frames, frame.height());
    QPainter painter(&strip);
    for (int i = 0; i < frames; ++i)
        painter.fillRect(QRect(i * frame.width(), 0, frame.width(), frame.height()),
                         kFrameColours[i]);
    return strip;
}

QColor Drawn(CYButton& button) { return button.grab().toImage().pixelColor(5, 5); }

void Enter(CYButton& button) {
    QEnterEvent enter(QPointF(5, 5), button.mapToGlobal(QPointF(5, 5)),
                      button.mapToGlobal(QPointF(5, 5)));
    QApplication::sendEvent(&button, &enter);
}

void Leave(CYButton& button) {
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&button, &leave);
}

}  // namespace

class YButtonTest : public QObject {
    Q_OBJECT

  private slots:
    void sizedToOneFrame() {
        CYButton button;
        button.setImage(Strip(4, QSize(30, 12)), 4);
        QCOMPARE(button.size(), QSize(30, 12));
        button.setImage(Strip(3, QSize(28, 22)), 3);
        QCOMPARE(button.size(), QSize(28, 22));
    }

    void framesFollowTheState_data() {
        QTest::addColumn<int>("frames");
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("expectedFrame");
        QTest::newRow("normal") << 3 << 0 << true << 0;
        QTest::newRow("hover") << 3 << 1 << true << 1;
        QTest::newRow("pressed") << 4 << 2 << true << 2;
        QTest::newRow("disabled 4-frame shows its fourth frame") << 4 << 2 << false << 3;
        // A 3-frame strip has no disabled frame; it keeps its normal one rather than nothing.
        QTest::newRow("disabled 3-frame") << 3 << 1 << false << 0;
    }

    void framesFollowTheState() {
        QFETCH(int, frames);
        QFETCH(int, state);
        QFETCH(bool, enabled);
        QFETCH(int, expectedFrame);
        CYButton button;
        button.setImage(Strip(frames), frames);
        button.setState(state);
        button.setEnabled(enabled);
        QCOMPARE(button.frameIndex(), expectedFrame);
        QCOMPARE(Drawn(button), kFrameColours[expectedFrame]);
    }

    void mouseMovesThroughTheStates() {
        CYButton button;
        button.setImage(Strip(4), 4);
        QSignalSpy clicked(&button, &CYButton::clicked);

        Enter(button);
        QCOMPARE(button.state(), int(CYButton::Hover));
        QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(button.state(), int(CYButton::Pressed));
        QCOMPARE(Drawn(button), kFrameColours[2]);
        QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(button.state(), int(CYButton::Normal));
        QCOMPARE(clicked.count(), 1);
        Enter(button);
        Leave(button);
        QCOMPARE(button.state(), int(CYButton::Normal));
    }

    void stayPressedButtonKeepsItsPressedFrame() {
        CYButton button;
        button.setImage(Strip(3), 3);
        button.setStayPressed(true);
        QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(button.state(), int(CYButton::Pressed));
        Leave(button);
        QCOMPARE(button.state(), int(CYButton::Pressed));
    }

    void selectedTabKeepsPressedWhileThePointerPassesOver() {
        CYButton tab;
        tab.setImage(Strip(3), 3);
        tab.setState(CYButton::Pressed);
        Enter(tab);
        QCOMPARE(tab.state(), int(CYButton::Pressed));
        Leave(tab);
        QCOMPARE(tab.state(), int(CYButton::Pressed));
        QCOMPARE(Drawn(tab), kFrameColours[2]);

        // A click handler that selects the tab again leaves it pressed after the release.
        connect(&tab, &CYButton::clicked, &tab, [&tab] { tab.setState(CYButton::Pressed); });
        QTest::mouseClick(&tab, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(tab.state(), int(CYButton::Pressed));
    }

    void missingImageLeavesAWorkingButton() {
        velquist::ui::SetProgramFolder(QStringLiteral(VELQUIST_PROGRAM_DIR));
        CYButton button;
        QVERIFY(!button.setImage(QStringLiteral("no_such_image.png"), 3));
        QVERIFY(!button.size().isEmpty());
        QSignalSpy clicked(&button, &CYButton::clicked);
        QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(2, 2));
        QCOMPARE(clicked.count(), 1);
        QVERIFY(button.setImage(QStringLiteral("title_close.png"), 3));
    }

    void textIsDrawnInTheStateColour() {
        CYButton button;
        QPixmap plain(60, 20);
        plain.fill(Qt::white);
        button.setText(QStringLiteral("删除"));
        button.setImage(plain, 1, true);
        button.setTextColors(QColor(0, 0, 255), QColor(255, 0, 0));
        const auto hasColour = [&button](const QColor& wanted) {
            const QImage image = button.grab().toImage();
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    if (image.pixelColor(x, y) == wanted) return true;
            return false;
        };
        QVERIFY(hasColour(QColor(0, 0, 255)));
        button.setState(CYButton::Pressed);
        QVERIFY(hasColour(QColor(255, 0, 0)));
        QVERIFY(!hasColour(QColor(0, 0, 255)));
    }

    void tooltipShowsSoonAfterThePointerArrives() {
        QWidget window;
        window.resize(200, 100);
        auto* button = new CYButton(&window);
        button->setImage(Strip(3, QSize(40, 30)), 3);
        button->move(20, 20);
        button->setTip(QStringLiteral("最小化"));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::mouseMove(&window, QPoint(5, 5));
        QTest::mouseMove(button, QPoint(10, 10));
        QTRY_VERIFY(button->underMouse());
        QTRY_COMPARE_WITH_TIMEOUT(QToolTip::text(), QStringLiteral("最小化"), 1000);
        QTest::mouseMove(&window, QPoint(190, 90));
        QTRY_COMPARE(button->state(), int(CYButton::Normal));
    }
};

QTEST_MAIN(YButtonTest)
#include "ybutton_test.moc"
