#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QPixmap>
#include <QTimer>

namespace velquist::ui {

// An image button drawn from a horizontal strip of equal frames: normal, hover, pressed and,
// in a 4-frame strip, disabled. Lives on the GUI thread like every widget.
class CYButton : public QAbstractButton {
    Q_OBJECT

  public:
    enum State { Normal = 0, Hover = 1, Pressed = 2 };
    static constexpr int kDisabledFrame = 3;
    static constexpr int kTooltipDelayMs = 10;
    static constexpr int kTooltipShowMs = 5000;

    explicit CYButton(QWidget* parent = nullptr);

    // Loads the strip from a skin file name (or a path) and sizes the button to one frame.
    // False when the file is missing: the button then draws nothing but still works.
    bool setImage(const QString& fileOrPath, int frameCount, bool showText = false);
    void setImage(const QPixmap& strip, int frameCount, bool showText = false);

    int state() const { return m_state; }
    // 0 or 2; the tab buttons show the selected page with 2.
    void setState(int state);
    // A pressed button stays pressed after the mouse is released.
    void setStayPressed(bool stay) { m_stayPressed = stay; }
    bool stayPressed() const { return m_stayPressed; }

    void setBold(bool bold);
    void setTextColors(const QColor& normal, const QColor& pressed);
    // The tooltip shown 10 ms after the pointer arrives, for 5 s.
    void setTip(const QString& tip) { m_tip = tip; }
    QString tip() const { return m_tip; }

    int frameCount() const { return m_frameCount; }
    // The frame drawn now: the state while enabled, the fourth frame while disabled (a strip
    // without one keeps showing its normal frame).
    int frameIndex() const;
    QSize frameSize() const;
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

  private:
    void showTip();

    QPixmap m_strip;
    int m_frameCount = 1;
    bool m_showText = false;
    bool m_bold = false;
    bool m_stayPressed = false;
    int m_state = Normal;
    QColor m_textColor{0, 0, 0};
    QColor m_pressedTextColor{0, 0, 0};
    QString m_tip;
    QTimer m_tipTimer;
};

}  // namespace velquist::ui
