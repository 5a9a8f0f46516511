#include "ui/dialog_update_download.h"

#include <QLabel>
#include <QPainter>
#include <QTimer>

#include "ui/message_box.h"
#include "ui/qt_text.h"
#include "ui/skin.h"

namespace velquist::ui {

namespace {

constexpr int kRefreshMs = 200;
const QRect kBarArea{30, 96, 400, 14};

}  // namespace

CDialogUpdateDownload::CDialogUpdateDownload(UpdateOffer offer, AppPaths paths, QWidget* parent,
                                             CHttpDownFile::Limits limits)
    : CYUiEntity(parent),
      m_offer(std::move(offer)),
      m_paths(std::move(paths)),
      m_downloader(&Notifier(), limits) {
    setFixedSize(460, 190);
    setupSkin(Mode::Dialog);
    setCaptionText(Q(kUpdateDialogCaption));
    addCloseButton();

    auto* text = new QLabel(Q(kUpdateDialogText), this);
    text->setObjectName(QStringLiteral("downloadText"));
    text->setFont(SkinFont(13));
    text->setGeometry(30, 60, 400, 24);

    m_percent = new QLabel(Q(DownloadPercentText(0, 0)), this);
    m_percent->setObjectName(QStringLiteral("percentText"));
    m_percent->setFont(SkinFont(12));
    m_percent->setGeometry(30, 120, 120, 20);

    m_progress = new QLabel(Q(MegabytesText(0)), this);
    m_progress->setObjectName(QStringLiteral("progressText"));
    m_progress->setFont(SkinFont(12));
    m_progress->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_progress->setGeometry(150, 120, 280, 20);

    if (!m_offer.newVersion.empty())
        setToolTip(QStringLiteral("%1 %2").arg(Q(m_offer.appName), Q(m_offer.newVersion)));

    m_timer = new QTimer(this);
    m_timer->setInterval(kRefreshMs);
    connect(m_timer, &QTimer::timeout, this, &CDialogUpdateDownload::refresh);
}

CDialogUpdateDownload::~CDialogUpdateDownload() {
    m_downloader.cancel();
    if (m_worker.joinable()) m_worker.join();
}

QString CDialogUpdateDownload::percentText() const { return m_percent->text(); }

QString CDialogUpdateDownload::progressText() const { return m_progress->text(); }

void CDialogUpdateDownload::loadSkinImages() { m_bar = LoadSkin(QStringLiteral("liuc_bar.png")); }

void CDialogUpdateDownload::drawExtras(QPainter& painter) {
    painter.setPen(kDialogBorder);
    painter.setBrush(Qt::white);
    painter.drawRect(kBarArea.adjusted(-1, -1, 0, 0));
    const int filled = static_cast<int>(kBarArea.width() * m_fraction);
    if (filled <= 0) return;
    const QRect done(kBarArea.topLeft(), QSize(filled, kBarArea.height()));
    if (m_bar.isNull()) {
        painter.fillRect(done, kStatusText);
    } else {
        painter.drawPixmap(done, m_bar,
                           QRect(0, 0, filled * m_bar.width() / kBarArea.width(), m_bar.height()));
    }
}

void CDialogUpdateDownload::showEvent(QShowEvent* event) {
    CYUiEntity::showEvent(event);
    if (m_worker.joinable() || m_result) return;
    m_started = std::chrono::steady_clock::now();
    m_timer->start();
    m_worker = std::thread([this] {
        UpdateDownloadResult result = DownloadUpdate(m_offer, m_paths, m_downloader);
        // Runs on the worker thread: the result is handed to the dialog's own thread, and is
        // dropped if the dialog is gone by then.
        QMetaObject::invokeMethod(
            this, [this, result = std::move(result)]() mutable { finish(std::move(result)); },
            Qt::QueuedConnection);
    });
}

void CDialogUpdateDownload::done(int code) {
    // The close button: no package is left half-written.
    if (!m_result) m_downloader.cancel();
    CYUiEntity::done(code);
}

void CDialogUpdateDownload::refresh() {
    const std::uint64_t received = m_downloader.received();
    const std::uint64_t total = m_downloader.total();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - m_started;
    const double speed =
        elapsed.count() > 0 ? static_cast<double>(received) / elapsed.count() : 0.0;
    m_fraction = total == 0 ? 0.0 : static_cast<double>(std::min(received, total)) / total;
    m_percent->setText(Q(DownloadPercentText(received, total)));
    m_progress->setText(Q(DownloadProgressText(received, total, speed)));
    update();
}

void CDialogUpdateDownload::finish(UpdateDownloadResult result) {
    if (m_worker.joinable()) m_worker.join();
    m_timer->stop();
    refresh();
    const bool ok = result.ok();
    const auto failure = result.download.result;
    m_result = std::move(result);
    if (!isVisible()) return;
    if (ok) {
        accept();
        return;
    }
    // A package file that could not be made has had its own message.
    if (failure != CHttpDownFile::Result::CreateFileFailed &&
        failure != CHttpDownFile::Result::Cancelled)
        Notifier().showMessage(kUpdateDownloadFailed);
    reject();
}

}  // namespace velquist::ui
