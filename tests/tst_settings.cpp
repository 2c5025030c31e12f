// The settings file: its defaults, what it reads back, hostile files, where it is written.
#include "settings/config.h"
#include "settings/runstampclaim.h"
#include "settings/settingscipher.h"
#include "settings/userfolders.h"
#include "tests/support/testkit.h"

#include <atomic>
#include <limits>
#include <thread>

namespace {

QString settingsText(const QString& timeout, const QString& depth, const QString& output)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<!-- SIEVRA -->\r\n<config>\r\n<leeching>\r\n"
                          "<timeout>%1</timeout>\r\n<depth>%2</depth>\r\n<output>%3</output>\r\n</leeching>\r\n"
                          "</config>\r\n\r\n")
        .arg(timeout, depth, output);
}

QByteArray stored(const QString& plain)
{
    return CSettingsCipher::scramble(plain).toLatin1();
}

} // namespace

class SettingsTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_home = std::make_unique<TestHome>(); }
    void cleanup() { m_home.reset(); }

    void settings_firstRun_usesDefaultsAndWritesTheTenLinesScrambled()
    {
        QVERIFY(QDir().mkpath(UserFolders::baseFolder()));
        {
            CConfig config;
            QCOMPARE(config.timeout(), 2);
            QCOMPARE(config.depth(), 1);
            QCOMPARE(config.outputFormat(), u"A:P"_s);
            QVERIFY(!QFile::exists(UserFolders::configFile()));
        }
        const QByteArray raw = readFile(UserFolders::configFile());
        QCOMPARE(CSettingsCipher::unscramble(QString::fromLatin1(raw)), settingsText("2", "1", "A:P"));
        for (const char* word : {"SIEVRA", "config", "timeout", "A:P", "<", "xml"})
            QVERIFY2(!raw.contains(word), word);
        // The first stage alone would leave the character codes readable ("60,33,45,45" for "<!--").
        QVERIFY(!raw.contains("60,"));

        // What the window may store comes back as it was.
        const QString format = u"<A>&amp;P& Pr\u00f6xy \u20ac\t\x01"_s;
        {
            CConfig config;
            config.setTimeout(0);
            config.setDepth(5);
            config.setOutputFormat(format);
        }
        CConfig reread;
        QCOMPARE(reread.timeout(), 0);
        QCOMPARE(reread.depth(), 5);
        QCOMPARE(reread.outputFormat(), format);
    }

    void settings_load_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("timeout");
        QTest::addColumn<int>("depth");
        QTest::addColumn<QString>("format");

        QTest::newRow("timeout not a number") << stored(settingsText("soon", "3", "A:P")) << 2 << 3 << "A:P";
        QTest::newRow("stray values kept") << stored(settingsText("-3", "-1000", "A:P")) << -3 << -1000 << "A:P";
        QTest::newRow("farthest value kept") << stored(settingsText("1000", "2", "A:P")) << 1000 << 2 << "A:P";
        QTest::newRow("beyond any choice") << stored(settingsText("1001", "-1001", "A:P")) << 2 << 1 << "A:P";
        QTest::newRow("depth zero") << stored(settingsText("1", "0", "A:P")) << 1 << 1 << "A:P";
        QTest::newRow("template raw, not trimmed")
            << stored(settingsText("2", "1", " <b>A</b>&P ")) << 2 << 1 << " <b>A</b>&P ";
        QTest::newRow("empty template") << stored(settingsText("2", "1", "")) << 2 << 1 << "";
        QTest::newRow("elements in another order, extra text")
            << stored("junk<output>B</output>\n\n<!-- SIEVRA -->xx<depth>3</depth> <timeout>1</timeout>") << 1 << 3
            << "B";
        QTest::newRow("missing elements fall back") << stored("<!-- SIEVRA --><timeout>3") << 2 << 1 << "A:P";
        QTest::newRow("first of two elements counts")
            << stored("<!-- SIEVRA --><depth>4</depth><depth>5</depth>") << 2 << 4 << "A:P";
        // Files that are not ours leave the defaults.
        QTest::newRow("without the marker")
            << stored(settingsText("3", "5", "C").remove("<!-- SIEVRA -->")) << 2 << 1 << "A:P";
        QTest::newRow("plain xml, not scrambled") << settingsText("3", "5", "C").toLatin1() << 2 << 1 << "A:P";
        QTest::newRow("larger than any file of ours")
            << stored(settingsText("3", "5", "C") + QString(400000, QLatin1Char(' '))) << 2 << 1 << "A:P";
    }

    void settings_load()
    {
        QVERIFY(QDir().mkpath(UserFolders::baseFolder()));
        QFETCH(QByteArray, bytes);
        QFETCH(int, timeout);
        QFETCH(int, depth);
        QFETCH(QString, format);
        QVERIFY(writeFile(UserFolders::configFile(), bytes));

        CConfig config;
        QCOMPARE(config.timeout(), timeout);
        QCOMPARE(config.depth(), depth);
        QCOMPARE(config.outputFormat(), format);
    }

    void settings_saveWithoutBaseFolder_writesNothing()
    {
        {
            CConfig config;
            config.setDepth(3);
        }
        QVERIFY(!QFile::exists(UserFolders::configFile()));
        QVERIFY(!QDir(UserFolders::baseFolder()).exists());
    }

    void settings_timeoutMilliseconds_farIndexNeverShort()
    {
        QCOMPARE(CConfig::timeoutMilliseconds(0), 10000);
        QCOMPARE(CConfig::timeoutMilliseconds(3), 25000);
        // The fetch ignores a time-out above 25 s and fails at once below 0; a far index must land there.
        QVERIFY(CConfig::timeoutMilliseconds(std::numeric_limits<int>::max()) > 25000);
        QVERIFY(CConfig::timeoutMilliseconds(std::numeric_limits<int>::min()) <= 0);
    }

    // Runs started together in a fresh home each find folders another has just made: all of them succeed.
    void userFolders_madeByRunsAtOnce_eachSucceeds()
    {
        for (int round = 0; round < 50; ++round) {
            QVERIFY(QDir(UserFolders::makerFolder()).removeRecursively());
            std::atomic<bool> go{false};
            std::atomic<int> failed{0};
            std::vector<std::thread> runs;
            runs.reserve(4);
            for (int i = 0; i < 4; ++i)
                runs.emplace_back([&] {
                    while (!go.load()) {
                    }
                    failed += int(UserFolders::makeUserFolders().size());
                });
            go = true;
            for (std::thread& run : runs)
                run.join();
            QCOMPARE(failed.load(), 0);
        }
    }

    // A stamp is taken while a live run claims it, once a run has claimed it within its second, or while its run
    // folder is there; a claim that cannot be made at all says so at once instead of waiting.
    void runStampClaim_data()
    {
        QTest::addColumn<bool>("dataFolder");
        QTest::addColumn<bool>("heldNow");    // another run holds the current second
        QTest::addColumn<bool>("folderNow");  // a run folder of the current second is there, unclaimed
        QTest::addColumn<bool>("endedNow");   // a run that claimed the current second has ended
        QTest::addColumn<bool>("endedNamed"); // ... having written pages under its stamp
        QTest::addColumn<bool>("later");      // the stamp claimed is a later second

        QTest::newRow("free") << true << false << false << false << false << false;
        QTest::newRow("held by a live run") << true << true << false << false << false << true;
        QTest::newRow("a dead run's folder") << true << false << true << false << false << true;
        QTest::newRow("a run ended in this second") << true << false << false << true << true << true;
        QTest::newRow("a refused run ended in this second") << true << false << false << true << false << false;
        QTest::newRow("no data folder") << false << false << false << false << false << false;
    }

    void runStampClaim()
    {
        QFETCH(bool, dataFolder);
        QFETCH(bool, heldNow);
        QFETCH(bool, folderNow);
        QFETCH(bool, endedNow);
        QFETCH(bool, endedNamed);
        QFETCH(bool, later);
        if (dataFolder)
            QVERIFY(UserFolders::makeUserFolders().isEmpty());
        // Just after a second begins, so that the second looked at below is the one the claim meets.
        QTest::qWait(int(1000 - QDateTime::currentMSecsSinceEpoch() % 1000));
        const quint32 now = quint32(QDateTime::currentSecsSinceEpoch());
        std::unique_ptr<RunStampClaim> other;
        if (heldNow)
            other = std::make_unique<RunStampClaim>();
        if (folderNow)
            QVERIFY(QDir().mkdir(UserFolders::runFolder(now)));
        QElapsedTimer timer;
        timer.start();
        if (endedNow) {
            const RunStampClaim ended;
            QCOMPARE(ended.stamp(), now);
            if (endedNamed)
                QVERIFY(UserFolders::makeRunFolder(now));
        }
        // An ended run left a mark rather than wait for its second to end.
        QVERIFY(timer.elapsed() < 500);
        const RunStampClaim claim;
        QCOMPARE(claim.failure().isEmpty(), dataFolder);
        QCOMPARE(claim.stamp() > now, later);
        // Never a second ahead of the clock.
        QVERIFY(claim.stamp() <= quint32(QDateTime::currentSecsSinceEpoch()));
        if (!dataFolder)
            QVERIFY(timer.elapsed() < 500);
        else
            QVERIFY(QFile::exists(UserFolders::runFolder(claim.stamp()) + u".lock"_s));
        // An ended run's mark, or an empty folder nobody holds, goes with the next claim; a run that named nothing
        // left nothing.
        if (claim.stamp() != now || endedNow)
            QVERIFY(!QFileInfo::exists(UserFolders::runFolder(now)));
    }

private:
    std::unique_ptr<TestHome> m_home;
};

QTEST_MAIN(SettingsTest)
#include "tst_settings.moc"
