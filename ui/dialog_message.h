#pragma once

#include <QString>

#include "ui/yui_entity.h"

class QLabel;

namespace velquist::ui {

// The skinned message box the pages use when a run ends: 400 x 200, centred in the main
// window, made hidden once and shown again with each new text.
class CDialogMessage : public CYUiEntity {
    Q_OBJECT

  public:
    explicit CDialogMessage(QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const;
    // Sets the text and shows the box centred over its parent window.
    void showText(const QString& text);

  private:
    QLabel* m_text = nullptr;
};

}  // namespace velquist::ui
