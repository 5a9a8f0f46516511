#pragma once

#include <QDialog>

#include "ui/yui_entity.h"

class QLabel;

namespace velquist::ui {

// "关于我们": the program's name, icon and version. Opened by the logo button and the menu.
class CDialogAbout : public CYUiEntity {
    Q_OBJECT

  public:
    explicit CDialogAbout(QWidget* parent = nullptr);
    QString versionText() const;

  protected:
    void loadSkinImages() override;
    void drawExtras(QPainter& painter) override;

  private:
    QLabel* m_name = nullptr;
    QLabel* m_version = nullptr;
    QPixmap m_icon;
};

// The plain about box of the window's system menu.
class CAboutDlg : public QDialog {
    Q_OBJECT

  public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace velquist::ui
