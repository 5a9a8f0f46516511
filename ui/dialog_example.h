#pragma once

#include <QPixmap>

#include "ui/yui_entity.h"

namespace velquist::ui {

// "导入说明": the picture that shows which file layouts the keyword import takes.
class CDialogExample : public CYUiEntity {
    Q_OBJECT

  public:
    explicit CDialogExample(QWidget* parent = nullptr);

    // Where the picture is drawn; empty when its file is missing.
    QRect pictureRect() const;

  protected:
    void drawExtras(QPainter& painter) override;

  private:
    QPixmap m_picture;
};

}  // namespace velquist::ui
