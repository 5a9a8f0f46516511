#pragma once

#include <QPixmap>
#include <QString>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>

#include "core/paths.h"
#include "services/http_down_file.h"
#include "services/update_package.h"
#include "ui/yui_entity.h"

class QLabel;
class QTimer;

namespace velquist::ui {

// The update download: shows "正在下载升级包", a bar and the progress texts while its worker
// thread fetches the package, notes the version and writes "update.txt". Accepted when the
// package is ready, rejected when the download failed ("升级包下载失败，请稍后再试！" is shown)
// or was cancelled with the close button. The worker starts when the dialog is first shown;
// closing the dialog cancels it, and the destructor waits for it. GUI thread only.
class CDialogUpdateDownload : public CYUiEntity {
    Q_OBJECT

  public:
    CDialogUpdateDownload(UpdateOffer offer, AppPaths paths, QWidget* parent = nullptr,
                          CHttpDownFile::Limits limits = {});
    ~CDialogUpdateDownload() override;

    QString percentText() const;
    QString progressText() const;
    // Share of the bar drawn, 0 to 1.
    double fraction() const { return m_fraction; }
    // Set once the worker has ended.
    const std::optional<UpdateDownloadResult>& downloadResult() const { return m_result; }

  protected:
    void loadSkinImages() override;
    void drawExtras(QPainter& painter) override;
    void showEvent(QShowEvent* event) override;
    void done(int code) override;

  private:
    void refresh();
    void finish(UpdateDownloadResult result);

    UpdateOffer m_offer;
    AppPaths m_paths;
    CHttpDownFile m_downloader;
    std::thread m_worker;
    std::chrono::steady_clock::time_point m_started;
    std::optional<UpdateDownloadResult> m_result;
    double m_fraction = 0;
    QPixmap m_bar;
    QLabel* m_percent = nullptr;
    QLabel* m_progress = nullptr;
    QTimer* m_timer = nullptr;
};

}  // namespace velquist::ui
