#pragma once

#include <QString>

#include "ui/yui_entity.h"

class QLineEdit;

namespace velquist::ui {

// "修改网址": edits one promotion-site address. OK accepts only an address the site list would
// take when added (without the duplicate check, which is the page's); address() is then the
// cleaned address without "http://".
class CDialogModify : public CYUiEntity {
    Q_OBJECT

  public:
    explicit CDialogModify(const QString& currentAddress, QWidget* parent = nullptr);

    QString address() const { return m_address; }
    QLineEdit* editor() const { return m_edit; }

  public slots:
    void onOk();

  private:
    QLineEdit* m_edit = nullptr;
    QString m_address;
};

}  // namespace velquist::ui
