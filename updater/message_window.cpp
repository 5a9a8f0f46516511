#include "updater/message_window.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRasterWindow>
#include <QScreen>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace velquist::updater {

namespace {

const QColor kBackground{240, 245, 249};
const QColor kBorder{79, 84, 135};
const QColor kInk{0x2C, 0x3E, 0x50};
constexpr int kTextWidth = 360;
constexpr int kMargin = 24;
constexpr QSize kButtonSize{80, 28};

bool DisplayNamed() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

// The text, and an OK button that closes the window, as does Enter, Space or Escape.
class MessageWindow final : public QRasterWindow {
  public:
    MessageWindow(const QString& text, const QString& caption)
        : m_text(text), m_font(QGuiApplication::font()) {
        setTitle(caption);
        setFlags(Qt::Dialog);
        // Pixels, so that measuring and drawing agree whatever the screen's resolution.
        m_font.setPixelSize(14);
        const QRect textArea = QFontMetrics(m_font).boundingRect(
            QRect(0, 0, kTextWidth, 2000), Qt::TextWordWrap | Qt::AlignLeft, m_text);
        const int width = std::max(textArea.width(), 200) + 2 * kMargin;
        const int height = textArea.height() + 3 * kMargin + kButtonSize.height();
        m_textArea = QRect(kMargin, kMargin, width - 2 * kMargin, textArea.height());
        m_button = QRect(QPoint((width - kButtonSize.width()) / 2,
                                height - kMargin / 2 - kButtonSize.height()),
                         kButtonSize);
        resize(width, height);
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            setPosition(screen->availableGeometry().center() - QPoint(width / 2, height / 2));
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setFont(m_font);
        painter.fillRect(QRect(QPoint(0, 0), size()), kBackground);
        painter.setPen(kInk);
        painter.drawText(m_textArea, Qt::TextWordWrap | Qt::AlignLeft, m_text);
        painter.setPen(kBorder);
        painter.setBrush(Qt::white);
        painter.drawRoundedRect(m_button.adjusted(0, 0, -1, -1), 3, 3);
        painter.setPen(kInk);
        painter.drawText(m_button, Qt::AlignCenter, QStringLiteral("确定"));
    }

    void mouseReleaseEvent(QMouseEvent* event) override {
        if (m_button.contains(event->position().toPoint())) close();
    }

    void keyPressEvent(QKeyEvent* event) override {
        switch (event->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
            case Qt::Key_Space:
            case Qt::Key_Escape:
                close();
                break;
            default:
                break;
        }
    }

  private:
    QString m_text;
    QFont m_font;
    QRect m_textArea;
    QRect m_button;
};

}  // namespace

MessageNotifier::MessageNotifier(int& argc, char** argv) : m_argc(argc), m_argv(argv) {}

MessageNotifier::~MessageNotifier() = default;

void MessageNotifier::showMessage(const std::string& text, const std::string& caption) {
    std::fprintf(stderr, "Tallowin: %s\n", text.c_str());
    std::fflush(stderr);
    if (!DisplayNamed()) return;
    if (!m_application) {
        // A display that does not answer ends in the offscreen platform instead of an abort.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "xcb;wayland;offscreen");
        m_application = std::make_unique<QGuiApplication>(m_argc, m_argv);
    }
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) return;
    MessageWindow window(QString::fromUtf8(text), QString::fromUtf8(caption));
    window.show();
    QGuiApplication::exec();
}

}  // namespace velquist::updater
