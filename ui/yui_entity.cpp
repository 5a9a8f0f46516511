#include "ui/yui_entity.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include "ui/skin.h"
#include "ui/ybutton.h"

namespace velquist::ui {

namespace {

bool IsEnterOrEscape(const QEvent* event) {
    const auto type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::ShortcutOverride)
        return false;
    const int key = static_cast<const QKeyEvent*>(event)->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape;
}

// Swallows Enter and Escape for any widget whose own window (or page) asked for it. It sits on
// the application so that keys aimed at a focused child are caught before the child sees them.
class EnterEscapeFilter final : public QObject {
  public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!IsEnterOrEscape(event)) return false;
        for (auto* widget = qobject_cast<QWidget*>(watched); widget;
             widget = widget->parentWidget()) {
            const auto* entity = qobject_cast<const CYUiEntity*>(widget);
            if (entity && entity->swallowsEnterEscape()) return true;
            if (widget->isWindow()) break;
        }
        return false;
    }
};

void InstallEnterEscapeFilter() {
    static QPointer<QCoreApplication> installedOn;
    static EnterEscapeFilter* filter = nullptr;
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || installedOn == app) return;
    filter = new EnterEscapeFilter;
    filter->setParent(app);
    app->installEventFilter(filter);
    installedOn = app;
}

}  // namespace

CYUiEntity::CYUiEntity(QWidget* parent) : QDialog(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
}

CYUiEntity::~CYUiEntity() = default;

void CYUiEntity::setupSkin(Mode mode) {
    m_mode = mode;
    switch (mode) {
        case Mode::Child:
            setWindowFlags(Qt::Widget);
            break;
        case Mode::Resizable:
            setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinMaxButtonsHint);
            setMinimumSize(kMinimumMainSize);
            break;
        case Mode::Dialog:
            setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
            break;
    }
    m_navLogo = LoadSkin(QStringLiteral("_nav_logo.png"));
    m_navBackground = LoadSkin(QStringLiteral("_nav_bg.png"));
    m_corner = LoadSkin(QStringLiteral("corner.png"));

    if (mode == Mode::Resizable) {
        const QScreen* shown = screen() ? screen() : QGuiApplication::primaryScreen();
        if (shown) setGeometry(RestoredGeometry(shown->geometry(), minimumSize()));
    }
    loadSkinImages();
    m_skinLoaded = true;
    m_skinSet = true;
    m_buffer = QPixmap();
    applyShape();
    placeCloseButton();
    layoutSkinControls();
    centreWindow();
}

void CYUiEntity::setCaptionText(const QString& text) {
    m_caption = text;
    setWindowTitle(text);
    update();
}

void CYUiEntity::setSwallowEnterEscape(bool swallow) {
    m_swallowEnterEscape = swallow;
    if (swallow) InstallEnterEscapeFilter();
}

HitCode CYUiEntity::hitTest(const QPoint& globalPos) const {
    const QRect window(mapToGlobal(QPoint(0, 0)), size());
    return SkinHitTest(window, globalPos, isResizable(), isChildPage());
}

QColor CYUiEntity::backgroundColor() const {
    return isChildPage() ? kPageBackground : kDialogBackground;
}

QColor CYUiEntity::borderColor() const { return isChildPage() ? kPageBackground : kDialogBorder; }

void CYUiEntity::toggleMaximised() {
    if (isMaximized())
        showNormal();
    else
        showMaximized();
}

CYButton* CYUiEntity::addCloseButton() {
    if (!m_closeButton) {
        m_closeButton = new CYButton(this);
        m_closeButton->setObjectName(QStringLiteral("closeButton"));
        m_closeButton->setImage(QStringLiteral("_but_close.png"), 3);
        m_closeButton->setTip(QStringLiteral("关闭"));
        connect(m_closeButton, &CYButton::clicked, this, &QDialog::reject);
        placeCloseButton();
    }
    return m_closeButton;
}

CYButton* CYUiEntity::addTextButton(const QString& text) {
    auto* button = new CYButton(this);
    button->setText(text);
    button->setImage(QStringLiteral("button.png"), 4, true);
    button->setTextColors(QColor(255, 255, 255), QColor(230, 238, 245));
    return button;
}

void CYUiEntity::placeCloseButton() {
    if (!m_closeButton) return;
    const QSize button = m_closeButton->sizeHint();
    m_closeButton->setGeometry(width() - button.width() - 4, 4, button.width(), button.height());
}

void CYUiEntity::drawCorners(QPainter& painter, const QPixmap& corner) const {
    if (corner.isNull()) return;
    const int cw = corner.width() / 2;
    const int ch = corner.height() / 2;
    const int right = width() - cw;
    const int bottom = height() - ch;
    painter.drawPixmap(0, 0, corner, 0, 0, cw, ch);
    painter.drawPixmap(right, 0, corner, cw, 0, cw, ch);
    painter.drawPixmap(0, bottom, corner, 0, ch, cw, ch);
    painter.drawPixmap(right, bottom, corner, cw, ch, cw, ch);
}

void CYUiEntity::done(int result) {
    freeSkinImages();
    m_skinLoaded = false;
    QDialog::done(result);
}

void CYUiEntity::paintEvent(QPaintEvent*) {
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = size() * ratio;
    if (m_buffer.size() != pixels) {
        m_buffer = QPixmap(pixels);
        m_buffer.setDevicePixelRatio(ratio);
    }
    {
        QPainter buffer(&m_buffer);
        buffer.fillRect(rect(), backgroundColor());
        buffer.setPen(borderColor());
        buffer.drawRect(rect().adjusted(0, 0, -1, -1));
        if (m_mode == Mode::Dialog) {
            if (!m_navLogo.isNull()) buffer.drawPixmap(1, 1, m_navLogo);
            if (!m_navBackground.isNull())
                buffer.drawPixmap(
                    QRect(50, 1, std::max(0, width() - 1 - 50), m_navBackground.height()),
                    m_navBackground);
            drawCorners(buffer, m_corner);
            buffer.setFont(SkinFont(12));
            buffer.setPen(Qt::white);
            buffer.drawText(QRect(36, 6, std::max(0, width() - 80), 20),
                            Qt::AlignLeft | Qt::AlignTop, m_caption);
        }
        drawExtras(buffer);
    }
    QPainter screen(this);
    screen.drawPixmap(0, 0, m_buffer);
}

void CYUiEntity::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (!m_skinSet) return;
    applyShape();
    placeCloseButton();
    layoutSkinControls();
    update();
}

void CYUiEntity::showEvent(QShowEvent* event) {
    if (m_skinSet && !m_skinLoaded) {
        loadSkinImages();
        m_skinLoaded = true;
    }
    QDialog::showEvent(event);
}

void CYUiEntity::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && m_skinSet) {
        applyShape();
        layoutSkinControls();
        update();
    }
}

void CYUiEntity::applyShape() {
    const QRegion shape = SkinWindowRegion(size(), isMaximized());
    if (shape == m_shape) return;
    m_shape = shape;
    // Headless platforms cannot shape a window and would only complain.
    static const bool shapeable = QGuiApplication::platformName() != QLatin1String("offscreen") &&
                                  QGuiApplication::platformName() != QLatin1String("minimal");
    if (shapeable) setMask(shape);
}

void CYUiEntity::centreWindow() {
    if (isChildPage()) return;
    const QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
    QRect area;
    if (owner && owner->isVisible())
        area = owner->geometry();
    else if (const QScreen* shown = screen() ? screen() : QGuiApplication::primaryScreen())
        area = shown->availableGeometry();
    if (area.isEmpty()) return;
    move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
}

void CYUiEntity::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QDialog::mousePressEvent(event);
    const QPoint global = event->globalPosition().toPoint();
    const HitCode code = hitTest(global);
    if (code == HitCode::Client) return QDialog::mousePressEvent(event);
    // A maximised window stays where it is; a frame press that means nothing does nothing.
    if (isMaximized() || code == HitCode::Nowhere) return;

    QWindow* handle = windowHandle();
    if (code == HitCode::Caption) {
        if (handle && handle->startSystemMove()) return;
        m_drag = Drag::Move;
    } else {
        if (handle && handle->startSystemResize(EdgesOf(code))) return;
        m_drag = Drag::Resize;
    }
    m_dragCode = code;
    m_dragStart = global;
    m_dragGeometry = geometry();
}

void CYUiEntity::mouseMoveEvent(QMouseEvent* event) {
    const QPoint global = event->globalPosition().toPoint();
    if (m_drag != Drag::None && (event->buttons() & Qt::LeftButton)) {
        const QPoint delta = global - m_dragStart;
        if (m_drag == Drag::Move)
            move(m_dragGeometry.topLeft() + delta);
        else
            setGeometry(ResizedGeometry(m_dragGeometry, m_dragCode, delta, minimumSize()));
        return;
    }
    if (isResizable() && !isMaximized())
        setCursor(CursorFor(hitTest(global)));
    else
        setCursor(Qt::ArrowCursor);
    QDialog::mouseMoveEvent(event);
}

void CYUiEntity::mouseReleaseEvent(QMouseEvent* event) {
    m_drag = Drag::None;
    QDialog::mouseReleaseEvent(event);
}

void CYUiEntity::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && isResizable() &&
        hitTest(event->globalPosition().toPoint()) == HitCode::Caption) {
        toggleMaximised();
        return;
    }
    QDialog::mouseDoubleClickEvent(event);
}

}  // namespace velquist::ui
