#pragma once

#include <optional>

class QCheckBox;

#include "records/report_export.h"
#include "ui/yui_entity.h"

namespace velquist::ui {

class CYButton;

inline constexpr const char* kExportWizardPrompt =
    "请选择导出类型：（您也可以选择2个以上关键词直接导出）";

inline constexpr const char* kExportHistoryOption = "同时导出排名历史（第二个工作表）";
inline constexpr const char* kExportHistoryQuestion =
    "是否同时导出这些关键词的排名历史？（第二个工作表“排名历史”）";

// "导出向导": which keywords of a list to export, all, those whose query has finished, or those
// not yet queried, and whether their rank history goes along. exec() returns the choice's
// number (1, 2, 3), or 0 when cancelled.
class CDialogExportSelectSeo : public CYUiEntity {
    Q_OBJECT

  public:
    explicit CDialogExportSelectSeo(ExportKind kind, QWidget* parent = nullptr);

    ExportKind kind() const { return m_kind; }
    CYButton* choiceButton(ExportChoice choice) const;
    std::optional<ExportChoice> choice() const { return m_choice; }
    QCheckBox* historyBox() const { return m_history; }
    bool withHistory() const;

  private:
    ExportKind m_kind;
    std::optional<ExportChoice> m_choice;
    CYButton* m_buttons[3] = {};
    QCheckBox* m_history = nullptr;
};

}  // namespace velquist::ui
