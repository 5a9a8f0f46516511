#pragma once

#include <QString>

#include "ui/yui_entity.h"

namespace velquist::ui {

// A white page that names its tab; stands where a working page has not been plugged in yet.
class PlaceholderPage : public CYUiEntity {
    Q_OBJECT

  public:
    PlaceholderPage(const QString& heading, const QString& note, QWidget* parent = nullptr);
    QString heading() const { return m_heading; }

  protected:
    void drawExtras(QPainter& painter) override;

  private:
    QString m_heading;
    QString m_note;
};

}  // namespace velquist::ui
