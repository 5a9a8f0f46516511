#include "ui/dialog_feedback.h"

#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTimer>
#include <exception>
#include <thread>

#include "ui/message_box.h"
#include "ui/qt_text.h"
#include "ui/skin.h"
#include "ui/window_mailbox.h"
#include "ui/ybutton.h"

namespace velquist::ui {

namespace {

constexpr int kDialogWidth = 480;
constexpr int kDialogHeight = 370;

}  // namespace

CDialogFeedback::CDialogFeedback(HostConfig hosts, std::string settingsPath, QWidget* parent)
    : CYUiEntity(parent),
      m_hosts(std::move(hosts)),
      m_settingsPath(std::move(settingsPath)),
      m_facts(GatherMachineFacts()) {
    setObjectName(QStringLiteral("feedbackDialog"));
    setFixedSize(kDialogWidth, kDialogHeight);
    setupSkin(Mode::Dialog);
    setCaptionText(QStringLiteral("Zanquil查排名反馈建议"));
    addCloseButton();

    auto* question = new QLabel(QStringLiteral("您有什么问题或建议想对我们说？"), this);
    question->setFont(SkinFont(13));
    question->setGeometry(20, 44, kDialogWidth - 40, 24);

    m_content = new QPlainTextEdit(Q(kFeedbackContentHint), this);
    m_content->setObjectName(QStringLiteral("contentEdit"));
    m_content->setFont(SkinFont(13));
    m_content->setGeometry(20, 72, kDialogWidth - 40, 158);
    m_content->installEventFilter(this);

    auto* contactLabel = new QLabel(QStringLiteral("联系方式："), this);
    contactLabel->setFont(SkinFont(13));
    contactLabel->setGeometry(20, 242, 80, 28);

    m_contactType = new QComboBox(this);
    m_contactType->setObjectName(QStringLiteral("contactTypeBox"));
    m_contactType->setFont(SkinFont(13));
    for (const char* type : kFeedbackContactTypes) m_contactType->addItem(Q(type));
    m_contactType->setCurrentIndex(0);
    m_contactType->setGeometry(100, 242, 106, 28);

    m_contact = new QLineEdit(this);
    m_contact->setObjectName(QStringLiteral("contactEdit"));
    m_contact->setFont(SkinFont(13));
    m_contact->setGeometry(214, 242, kDialogWidth - 20 - 214, 28);

    auto* contactHint =
        new QLabel(QStringLiteral("请留下您的联系方式，以方便我们快速定位问题的原因"), this);
    contactHint->setFont(SkinFont(12));
    contactHint->setStyleSheet(QStringLiteral("color: rgb(110, 118, 130);"));
    contactHint->setGeometry(100, 276, kDialogWidth - 120, 22);

    m_submit = addTextButton(QStringLiteral("提交问题"));
    m_submit->setObjectName(QStringLiteral("submitButton"));
    m_submit->move(kDialogWidth - 2 * m_submit->width() - 34,
                   kDialogHeight - m_submit->height() - 18);
    connect(m_submit, &CYButton::clicked, this, &CDialogFeedback::onSubmit);
    m_back = addTextButton(QStringLiteral("返回"));
    m_back->setObjectName(QStringLiteral("backButton"));
    m_back->move(kDialogWidth - m_back->width() - 20, kDialogHeight - m_back->height() - 18);
    connect(m_back, &CYButton::clicked, this, &QDialog::reject);

    m_mailbox = std::make_shared<WindowMailbox>(
        this, [this](int outcome, const std::string& message) { onAnswer(outcome, message); });
}

CDialogFeedback::~CDialogFeedback() { m_mailbox->close(); }

FeedbackForm CDialogFeedback::readForm() const {
    return {U8(m_contactType->currentText()), U8(m_contact->text()), U8(m_content->toPlainText())};
}

void CDialogFeedback::onSubmit() {
    if (m_sending) return;
    const FeedbackForm form = readForm();
    if (const auto problem = FeedbackFormProblem(form)) {
        Notifier().showMessage(*problem);
        return;
    }
    m_sending = true;
    m_submit->setEnabled(false);
    // The worker keeps its own copies and reaches the dialog only through the mailbox, which
    // the dialog closes when it goes: leaving while the request runs is allowed.
    std::thread([hosts = m_hosts, settingsPath = m_settingsPath, facts = m_facts, form,
                 mailbox = m_mailbox] {
        FeedbackResult result{FeedbackOutcome::NetworkFailure, kFeedbackNetworkError};
        try {
            result = SendFeedback(hosts, form, facts, ProcessMachineIdentity(settingsPath));
        } catch (const std::exception&) {
            // Reported as the network error below: the user may try again.
        }
        mailbox->post(static_cast<int>(result.outcome), result.message);
    }).detach();
}

void CDialogFeedback::onAnswer(int outcome, const std::string& message) {
    m_sending = false;
    m_submit->setEnabled(true);
    Notifier().showMessage(message);
    if (static_cast<FeedbackOutcome>(outcome) == FeedbackOutcome::Sent) accept();
}

bool CDialogFeedback::eventFilter(QObject* watched, QEvent* event) {
    // Whoever starts writing replaces the hint instead of writing after it.
    if (watched == m_content && event->type() == QEvent::FocusIn &&
        m_content->toPlainText() == Q(kFeedbackContentHint))
        QTimer::singleShot(0, m_content, [content = m_content] { content->selectAll(); });
    return CYUiEntity::eventFilter(watched, event);
}

}  // namespace velquist::ui
