// Morvane's start-up: the command line, the folders and database before the window, and the
// silent end when the database cannot be used.

#include <QDir>
#include <QtTest>
#include <filesystem>
#include <fstream>

#include "app/velquist_app.h"
#include "ui/skin.h"
#include "ui_test_support.h"

using velquist::app::ParseArguments;
using velquist::app::StartupOptions;
using velquist::testing::ScriptedNotifier;
using velquist::testing::TempFolder;

class StartupTest : public QObject {
    Q_OBJECT

  private slots:
    void arguments_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("dataFolder");
        QTest::addColumn<QString>("screenshotFolder");
        QTest::newRow("none") << QStringList{} << true << QString() << QString();
        QTest::newRow("data folder")
            << QStringList{"--data-dir", "/tmp/d"} << true << "/tmp/d" << QString();
        QTest::newRow("both") << QStringList{"--screenshot-dir", "/tmp/s", "--data-dir", "/tmp/d"}
                              << true << "/tmp/d"
                              << "/tmp/s";
        QTest::newRow("missing value")
            << QStringList{"--data-dir"} << false << QString() << QString();
        QTest::newRow("unknown") << QStringList{"--maximise"} << false << QString() << QString();
    }

    void arguments() {
        QFETCH(QStringList, arguments);
        QFETCH(bool, valid);
        QFETCH(QString, dataFolder);
        QFETCH(QString, screenshotFolder);
        QString error;
        const auto options = ParseArguments(QStringList{"Morvane"} + arguments, &error);
        QCOMPARE(options.has_value(), valid);
        if (!valid) {
            QVERIFY(!error.isEmpty());
            return;
        }
        QCOMPARE(QString::fromStdString(options->dataFolder.value_or("")), dataFolder);
        QCOMPARE(options->screenshotFolder.value_or(QString()), screenshotFolder);
    }

    void startMakesTheDataFolderAndDatabase() {
        TempFolder home;
        ScriptedNotifier notifier;
        StartupOptions options;
        options.dataFolder = home.path() + "/data/Velquist";
        const auto start = velquist::app::PrepareStart(options, notifier);
        QVERIFY(start.databaseReady);
        QVERIFY(notifier.messages.empty());
        QCOMPARE(start.paths.programFolder, QDir::currentPath().toStdString());
        QCOMPARE(velquist::ui::ProgramFolder(), QDir::currentPath());
        QVERIFY(
            std::filesystem::is_regular_file(home.path() + "/data/Velquist/database/main_360.db"));
        velquist::DbConnection db(start.paths.databasePath);
        QCOMPARE(velquist::ReadSingleInt(db,
                                         "SELECT COUNT(*) FROM sqlite_master WHERE name IN "
                                         "('seokeyword','keyword','website','seorank','semrank')"),
                 5);
    }

    void unusableDatabaseEndsWithoutAWindow() {
        TempFolder home;
        // A file where the database folder should be: nothing can be created under it.
        std::ofstream(home.file("database")) << "in the way";
        ScriptedNotifier notifier;
        StartupOptions options;
        options.dataFolder = home.path();
        QCOMPARE(velquist::app::RunVelquist(options), 1);
        QCOMPARE(notifier.messages, std::vector<std::string>{"数据库打开失败！"});
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }
};

QTEST_MAIN(StartupTest)
#include "startup_test.moc"
