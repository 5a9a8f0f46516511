#pragma once

#include <QDialog>
#include <QPixmap>
#include <QPoint>
#include <QRect>

#include "ui/window_geometry.h"

class QPainter;

namespace velquist::ui {

class CYButton;

// The skinned base of every window of the program: the main window, its pages and the small
// dialogs. It owns the skin images of the frame, the off-screen buffer the window is painted
// into, and the frameless window's dragging and resizing. GUI thread only.
class CYUiEntity : public QDialog {
    Q_OBJECT

  public:
    enum class Mode {
        Dialog,     // caption bar, logo and corners drawn by the base; dragged by its top
        Resizable,  // the main window: edges and corners resize it, 970 x 500 at least
        Child,      // a page inside another window: white, no caption
    };

    explicit CYUiEntity(QWidget* parent = nullptr);
    ~CYUiEntity() override;

    // Fixes the mode, loads the frame's images, gives the main window 80 % of the screen,
    // calls loadSkinImages(), shapes the window and centres it.
    void setupSkin(Mode mode);
    Mode mode() const { return m_mode; }
    bool isResizable() const { return m_mode == Mode::Resizable; }
    bool isChildPage() const { return m_mode == Mode::Child; }

    // The caption an ordinary dialog draws in its caption bar.
    void setCaptionText(const QString& text);
    QString captionText() const { return m_caption; }

    // Enter and Escape do nothing in this window or anything inside it (not in the dialogs it
    // opens), so neither key closes a page or the window.
    void setSwallowEnterEscape(bool swallow);
    bool swallowsEnterEscape() const { return m_swallowEnterEscape; }

    // What a press at a screen point of this window means.
    HitCode hitTest(const QPoint& globalPos) const;

    QColor backgroundColor() const;
    QColor borderColor() const;

    void toggleMaximised();

    // The shape the window was last given (see SkinWindowRegion).
    QRegion windowShape() const { return m_shape; }

  protected:
    // The skin hooks, in this order of slots; all empty here.
    virtual void loadSkinImages() {}
    virtual void layoutSkinControls() {}
    virtual void drawExtras(QPainter& painter) { Q_UNUSED(painter) }
    virtual void freeSkinImages() {}

    // The close button of an ordinary dialog, at the right end of its caption bar; it rejects.
    CYButton* addCloseButton();
    // An OK/Cancel style button drawn from button.png with its text.
    CYButton* addTextButton(const QString& text);
    // Draws the four quarters of `corner` into the corners of the window.
    void drawCorners(QPainter& painter, const QPixmap& corner) const;

    void done(int result) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    enum class Drag { None, Move, Resize };

    void applyShape();
    void centreWindow();
    void placeCloseButton();

    Mode m_mode = Mode::Dialog;
    bool m_skinSet = false;
    bool m_skinLoaded = false;
    bool m_swallowEnterEscape = false;
    QString m_caption;
    QRegion m_shape;
    QPixmap m_buffer;
    QPixmap m_navLogo;
    QPixmap m_navBackground;
    QPixmap m_corner;
    CYButton* m_closeButton = nullptr;

    // A drag the platform could not take over (no window manager, offscreen).
    Drag m_drag = Drag::None;
    HitCode m_dragCode = HitCode::Client;
    QPoint m_dragStart;
    QRect m_dragGeometry;
};

}  // namespace velquist::ui
