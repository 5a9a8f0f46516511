#pragma once

#include <QLabel>
#include <QString>

namespace velquist::ui {

// The text shown when opening a link failed with `code` (32 or less).
QString HyperlinkErrorText(int code);

// A link label: shows its text underlined and opens its target address when clicked. A failed
// open shows "Unable to open hyperlink:" with the reason.
class CHyperLink : public QLabel {
    Q_OBJECT

  public:
    explicit CHyperLink(const QString& text, const QString& target = {}, QWidget* parent = nullptr);

    void setTarget(const QString& target) { m_target = target; }
    QString target() const { return m_target; }

    // Opens the target; false when it failed (the message has been shown).
    bool open();

  signals:
    void clicked();

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    QString m_target;
};

}  // namespace velquist::ui
