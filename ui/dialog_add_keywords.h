#pragma once

#include <functional>
#include <string>
#include <vector>

#include "records/paid_records.h"
#include "ui/yui_entity.h"

class QComboBox;
class QLabel;
class QPlainTextEdit;

namespace velquist::ui {

inline constexpr const char* kEnterKeywords = "请输入关键词！";
inline constexpr const char* kKeywordsHint = "请输入关键词，多个关键词直接以回车分开";

// One keyword per line of the edit, line ends removed. Blank lines stay for the records layer,
// which drops them.
std::vector<std::string> KeywordLines(const QString& text);

// Adds natural-ranking keywords typed one per line. OK with nothing typed refuses; otherwise
// the records layer adds them and tells the user, and the dialog closes once they are stored.
class CDialogAddSeo : public CYUiEntity {
    Q_OBJECT

  public:
    CDialogAddSeo(std::string dbPath, QWidget* parent = nullptr);

    // Runs after a committed add with the number of keywords added (the page reloads).
    void setOnCommitted(std::function<void(int)> onCommitted) {
        m_onCommitted = std::move(onCommitted);
    }
    QPlainTextEdit* editor() const { return m_edit; }

  public slots:
    void onOk();

  private:
    std::string m_dbPath;
    std::function<void(int)> m_onCommitted;
    QPlainTextEdit* m_edit = nullptr;
};

// Adds paid-ranking keywords under a plan and a unit, picked from the stored ones or typed new;
// a name left empty is "默认".
class CDialogAddSem : public CYUiEntity {
    Q_OBJECT

  public:
    CDialogAddSem(std::string dbPath, QWidget* parent = nullptr);

    void setOnCommitted(std::function<void(int)> onCommitted) {
        m_onCommitted = std::move(onCommitted);
    }
    QPlainTextEdit* editor() const { return m_edit; }
    QComboBox* planBox() const { return m_plans; }
    QComboBox* unitBox() const { return m_units; }

  public slots:
    void onOk();

  private:
    void loadPlans();
    void loadUnits(int planIndex);

    std::string m_dbPath;
    std::function<void(int)> m_onCommitted;
    QPlainTextEdit* m_edit = nullptr;
    QComboBox* m_plans = nullptr;
    QComboBox* m_units = nullptr;
};

}  // namespace velquist::ui
