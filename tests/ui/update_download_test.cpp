// The update download dialog: its texts while the package comes in, and how it ends.

#include <QLabel>
#include <QRegularExpression>
#include <QtTest>
#include <filesystem>
#include <set>

#include "../services/update_test_server.h"
#include "services/update_package.h"
#include "ui/dialog_update_download.h"
#include "ui/qt_text.h"
#include "ui_test_support.h"

using velquist::UpdateOffer;
using velquist::testing::DataFolder;
using velquist::testing::OkAnswer;
using velquist::testing::RawHttpServer;
using velquist::testing::ScriptedNotifier;
using velquist::ui::CDialogUpdateDownload;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

UpdateOffer Offer(const RawHttpServer& server) {
    return {"Zanquil", "1.0.2.3", server.url("/download/Velquist_1.0.2.3.zip")};
}

}  // namespace

class UpdateDownloadTest : public QObject {
    Q_OBJECT

  private slots:
    void showsProgressThenNotesTheVersionAndTheMarker() {
        const std::string package(2 * 1048576, 'p');
        RawHttpServer server([&](RawHttpServer::Connection& connection) {
            const std::string answer = OkAnswer(package);
            const std::size_t piece = answer.size() / 8 + 1;
            for (std::size_t at = 0; at < answer.size(); at += piece) {
                if (!connection.send(std::string_view(answer).substr(at, piece))) return;
                std::this_thread::sleep_for(150ms);
            }
        });
        DataFolder data;
        ScriptedNotifier notifier;
        CDialogUpdateDownload dialog(Offer(server), data.paths);
        QCOMPARE(dialog.captionText(),
                 QStringLiteral("Zanquil关键词排名查询软件（360版-永久免费）升级"));
        QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("downloadText"))->text(),
                 QStringLiteral("正在下载升级包"));
        QCOMPARE(dialog.progressText(), QStringLiteral("0.00MB"));

        std::set<QString> percents;
        QTimer sampler;
        connect(&sampler, &QTimer::timeout, [&] { percents.insert(dialog.percentText()); });
        sampler.start(20);
        dialog.open();
        QTRY_VERIFY_WITH_TIMEOUT(dialog.downloadResult().has_value(), 20000);
        sampler.stop();

        QVERIFY(dialog.downloadResult()->ok());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.percentText(), QStringLiteral("已下载 100%"));
        QVERIFY(QRegularExpression(QStringLiteral(R"(^2\.00MB/2\.00MB - 下载速度 \d+\.\d\d(MB|KB)/S$)"))
                    .match(dialog.progressText())
                    .hasMatch());
        QCOMPARE(dialog.fraction(), 1.0);
        const bool sawProgress = std::any_of(percents.begin(), percents.end(), [](const QString& t) {
            return t != QStringLiteral("已下载 0%") && t != QStringLiteral("已下载 100%");
        });
        QVERIFY2(sawProgress, "no percentage between 0 and 100 was shown");

        const std::string path =
            fs::path(data.paths.dataFolder + "/download/Velquist_1.0.2.3.zip").lexically_normal();
        QCOMPARE(fs::file_size(path), package.size());
        QCOMPARE(velquist::ReadUpdateMarker(data.paths.dataFolder).value_or(""), path);
        QCOMPARE(velquist::RecordedAppVersion(data.paths.databasePath), std::string("1.0.2.3"));
        QVERIFY(notifier.messages.empty());
    }

    void failuresAreToldOnceAndLeaveNoMarker_data() {
        QTest::addColumn<bool>("blockTheFile");
        QTest::addColumn<QString>("message");
        QTest::newRow("not found") << false << QStringLiteral("升级包下载失败，请稍后再试！");
        QTest::newRow("file cannot be made") << true << QStringLiteral("HTTP下载[创建文件失败]!");
    }

    void failuresAreToldOnceAndLeaveNoMarker() {
        QFETCH(bool, blockTheFile);
        QFETCH(QString, message);
        RawHttpServer server([&](RawHttpServer::Connection& connection) {
            connection.send(blockTheFile ? OkAnswer("package")
                                         : "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
        });
        DataFolder data;
        if (blockTheFile)
            fs::create_directories(data.paths.dataFolder + "/download/Velquist_1.0.2.3.zip/x");
        ScriptedNotifier notifier;
        CDialogUpdateDownload dialog(Offer(server), data.paths);
        dialog.open();
        QTRY_VERIFY_WITH_TIMEOUT(dialog.downloadResult().has_value(), 10000);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(notifier.messages, std::vector<std::string>{velquist::ui::U8(message)});
        QVERIFY(!fs::exists(data.paths.dataFolder + "/update.txt"));
        QCOMPARE(velquist::RecordedAppVersion(data.paths.databasePath), std::string());
    }

    void theCloseButtonCancelsTheDownload() {
        RawHttpServer server([](RawHttpServer::Connection& connection) {
            connection.send("HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\nthe start");
            connection.holdOpen(20s);
        });
        DataFolder data;
        ScriptedNotifier notifier;
        CDialogUpdateDownload dialog(Offer(server), data.paths);
        dialog.open();
        QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), std::size_t(1), 5000);
        auto* close = dialog.findChild<QWidget*>(QStringLiteral("closeButton"));
        QVERIFY(close);
        QTest::mouseClick(close, Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QTRY_VERIFY_WITH_TIMEOUT(dialog.downloadResult().has_value(), 3000);
        QCOMPARE(int(dialog.downloadResult()->download.result),
                 int(velquist::CHttpDownFile::Result::Cancelled));
        QVERIFY(notifier.messages.empty());
        QVERIFY(!fs::exists(data.paths.dataFolder + "/update.txt"));
        QVERIFY(fs::is_empty(data.paths.dataFolder + "/download"));
    }
};

QTEST_MAIN(UpdateDownloadTest)
#include "update_download_test.moc"
