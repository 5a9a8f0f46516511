#include "ui/dialog_add_keywords.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "records/natural_records.h"
#include "ui/message_box.h"
#include "ui/qt_text.h"
#include "ui/skin.h"
#include "ui/ybutton.h"

namespace velquist::ui {

namespace {

QLabel* MakeLabel(const QString& text, QWidget* parent, const QRect& where) {
    auto* label = new QLabel(text, parent);
    label->setFont(SkinFont(13));
    label->setGeometry(where);
    return label;
}

QPlainTextEdit* MakeKeywordEdit(QWidget* parent, const QRect& where) {
    auto* edit = new QPlainTextEdit(parent);
    edit->setObjectName(QStringLiteral("keywordEdit"));
    edit->setFont(SkinFont(13));
    edit->setGeometry(where);
    return edit;
}

bool IsBlank(const QString& text) { return text.trimmed().isEmpty(); }

std::string NameOrDefault(const QString& typed) {
    const QString name = typed.trimmed();
    return name.isEmpty() ? std::string(kDefaultTreeName) : U8(name);
}

}  // namespace

std::vector<std::string> KeywordLines(const QString& text) {
    std::vector<std::string> lines;
    for (QString line : text.split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
        lines.push_back(U8(line));
    }
    return lines;
}

CDialogAddSeo::CDialogAddSeo(std::string dbPath, QWidget* parent)
    : CYUiEntity(parent), m_dbPath(std::move(dbPath)) {
    setFixedSize(440, 340);
    setupSkin(Mode::Dialog);
    setCaptionText(QStringLiteral("添加关键词"));
    addCloseButton();

    MakeLabel(Q(kKeywordsHint), this, QRect(20, 44, 400, 20));
    m_edit = MakeKeywordEdit(this, QRect(20, 70, 400, 204));

    CYButton* ok = addTextButton(QStringLiteral("确定"));
    ok->setObjectName(QStringLiteral("okButton"));
    ok->move(width() - 2 * ok->width() - 34, height() - ok->height() - 16);
    connect(ok, &CYButton::clicked, this, &CDialogAddSeo::onOk);
    CYButton* cancel = addTextButton(QStringLiteral("取消"));
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->move(width() - cancel->width() - 20, height() - cancel->height() - 16);
    connect(cancel, &CYButton::clicked, this, &QDialog::reject);
}

void CDialogAddSeo::onOk() {
    const QString text = m_edit->toPlainText();
    if (IsBlank(text)) {
        Notifier().showMessage(kEnterKeywords);
        return;
    }
    const AddOutcome outcome =
        addNaturalKeywords(m_dbPath, KeywordLines(text), Notifier(), m_onCommitted);
    // A failed add keeps the dialog and what was typed, so nothing has to be typed again.
    if (outcome.committed) accept();
}

CDialogAddSem::CDialogAddSem(std::string dbPath, QWidget* parent)
    : CYUiEntity(parent), m_dbPath(std::move(dbPath)) {
    setFixedSize(460, 420);
    setupSkin(Mode::Dialog);
    setCaptionText(QStringLiteral("添加关键词"));
    addCloseButton();

    MakeLabel(QStringLiteral("添加或选择推广计划"), this, QRect(20, 46, 140, 24));
    m_plans = new QComboBox(this);
    m_plans->setObjectName(QStringLiteral("planBox"));
    m_plans->setEditable(true);
    m_plans->setInsertPolicy(QComboBox::NoInsert);
    m_plans->setFont(SkinFont(13));
    m_plans->setGeometry(166, 44, 274, 26);

    MakeLabel(QStringLiteral("添加或选择推广单元"), this, QRect(20, 82, 140, 24));
    m_units = new QComboBox(this);
    m_units->setObjectName(QStringLiteral("unitBox"));
    m_units->setEditable(true);
    m_units->setInsertPolicy(QComboBox::NoInsert);
    m_units->setFont(SkinFont(13));
    m_units->setGeometry(166, 80, 274, 26);

    MakeLabel(Q(kKeywordsHint), this, QRect(20, 118, 420, 20));
    m_edit = MakeKeywordEdit(this, QRect(20, 142, 420, 210));

    CYButton* ok = addTextButton(QStringLiteral("确定"));
    ok->setObjectName(QStringLiteral("okButton"));
    ok->move(width() - 2 * ok->width() - 34, height() - ok->height() - 16);
    connect(ok, &CYButton::clicked, this, &CDialogAddSem::onOk);
    CYButton* cancel = addTextButton(QStringLiteral("取消"));
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->move(width() - cancel->width() - 20, height() - cancel->height() - 16);
    connect(cancel, &CYButton::clicked, this, &QDialog::reject);

    loadPlans();
    connect(m_plans, &QComboBox::currentIndexChanged, this, &CDialogAddSem::loadUnits);
    loadUnits(m_plans->currentIndex());
}

void CDialogAddSem::loadPlans() {
    m_plans->clear();
    const auto plans = loadPlanChoices(m_dbPath, Notifier());
    if (!plans) return;
    for (const NamedId& plan : *plans) m_plans->addItem(Q(plan.name), plan.id);
}

void CDialogAddSem::loadUnits(int planIndex) {
    m_units->clear();
    if (planIndex < 0) return;
    const auto units = loadUnitChoices(m_dbPath, m_plans->itemData(planIndex).toInt(), Notifier());
    if (!units) return;
    for (const NamedId& unit : *units) m_units->addItem(Q(unit.name), unit.id);
}

void CDialogAddSem::onOk() {
    const QString text = m_edit->toPlainText();
    if (IsBlank(text)) {
        Notifier().showMessage(kEnterKeywords);
        return;
    }
    const std::string plan = NameOrDefault(m_plans->currentText());
    const std::string unit = NameOrDefault(m_units->currentText());
    std::vector<PaidKeywordEntry> entries;
    for (std::string& keyword : KeywordLines(text))
        entries.push_back({std::move(keyword), unit, plan});
    const AddOutcome outcome = addPaidKeywords(m_dbPath, entries, Notifier(), m_onCommitted);
    if (outcome.committed) accept();
}

}  // namespace velquist::ui
