// The settings store: defaults, round trips, the unload save sequence and
// stored values that the program never writes.

#include "core/paths.h"
#include "core/settingsstore.h"
#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

#include <limits>
#include <memory>

using namespace wendral;

namespace {
constexpr qint32 kMaxCount = std::numeric_limits<qint32>::max();

QByteArray dataFile(const QString &name)
{
    QFile f(QStringLiteral(WENDRAL_TEST_DATA "/settings/") + name);
    if (!f.open(QIODevice::ReadOnly))
        qFatal("missing test data %s", qPrintable(name));
    return f.readAll();
}
} // namespace

class TestSettingsStore : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void emptyStoreGivesDefaults();
    void valuesRoundTrip();
    void writesReachTheFileAtOnce();
    void unloadWritesNineValuesInOrder();
    void largestCountReadsBackExactly();

    void oddToggles_data();
    void oddToggles();
    void oddCounts_data();
    void oddCounts();
    void textsAreReturnedAsStored();
    void corruptFileStillReadsAndWrites();
    void settingsFileThatIsAFolder();

private:
    void installConf(const QString &name);
    std::unique_ptr<test::TestEnvironment> m_env;
};

void TestSettingsStore::init()
{
    m_env = std::make_unique<test::TestEnvironment>();
}

void TestSettingsStore::cleanup()
{
    Settings::setWriteObserver(nullptr);
    m_env.reset();
}

void TestSettingsStore::installConf(const QString &name)
{
    QVERIFY(QDir().mkpath(Paths::configDir()));
    QVERIFY(test::writeFile(Paths::settingsFile(), dataFile(name)));
}

void TestSettingsStore::emptyStoreGivesDefaults()
{
    QCOMPARE(Settings::readToggle(Settings::kStopPop, Settings::kDefaultStopPop), 1);
    QCOMPARE(Settings::readToggle(Settings::kAuto, Settings::kDefaultAuto), 1);
    QCOMPARE(Settings::readToggle(Settings::kOnTop, Settings::kDefaultOnTop), 0);
    QCOMPARE(Settings::readToggle(Settings::kRunAtStart, Settings::kDefaultRunAtStart), 0);
    QCOMPARE(Settings::readToggle(Settings::kSound, Settings::kDefaultSound), 1);
    QCOMPARE(Settings::readToggle(Settings::kLinks, Settings::kDefaultLinks), 0);
    QCOMPARE(Settings::readCount(Settings::kStopped, Settings::kDefaultStopped), 0);
    QCOMPARE(Settings::read(Settings::kState, Settings::kDefaultState), QString("up"));
    QCOMPARE(Settings::read(Settings::kShowHelp, Settings::kDefaultShowHelp), QString("1"));
    QVERIFY(!QFileInfo::exists(Paths::settingsFile())); // reading creates nothing
}

void TestSettingsStore::valuesRoundTrip()
{
    const QString list = "a.example\r\nb, c = d.example\r\n  \"quoted\"\r\n\u00e9t\u00e9.example\r\n";
    Settings::write(Settings::kAllowed, list);
    Settings::write(Settings::kSound, "0");
    Settings::write(Settings::kStopped, "123");
    Settings::write(Settings::kState, "down");
    QCOMPARE(Settings::read(Settings::kAllowed, QString()), list);
    QCOMPARE(Settings::readToggle(Settings::kSound, 1), 0);
    QCOMPARE(Settings::readCount(Settings::kStopped, 0), 123);
    QCOMPARE(Settings::read(Settings::kState, "up"), QString("down"));
    Settings::write(Settings::kState, "up"); // overwritten, not added
    QCOMPARE(Settings::read(Settings::kState, "x"), QString("up"));
}

void TestSettingsStore::writesReachTheFileAtOnce()
{
    Settings::write(Settings::kSound, "0");
    const QByteArray content = test::readFile(Paths::settingsFile());
    QVERIFY(content.contains("[Settings]"));
    QVERIFY(content.contains("chkSound=0"));
    QCOMPARE(Paths::settingsFile(), m_env->wendralConfigDir() + "/Wendral.conf");
}

void TestSettingsStore::unloadWritesNineValuesInOrder()
{
    QStringList order;
    QStringList values;
    Settings::setWriteObserver([&](const QString &key, const QString &value) {
        order << key;
        values << value;
    });
    Settings::UnloadSnapshot s;
    s.check1 = 1;
    s.check2 = 0;
    s.check3 = 1;
    s.check4 = 0;
    s.check6 = 1;
    s.blockedCount = 77;
    s.allowedList = "a.example\r\n";
    s.disallowedList = "";
    s.state = "down";
    Settings::saveOnUnload(s);
    QCOMPARE(order, (QStringList{"chkRunAtStart", "chkOnTop", "chkAuto", "chkStopPop", "intStopped", "strAllowed",
                                 "strDisallowed", "chkLinks", "state"}));
    QCOMPARE(values, (QStringList{"0", "1", "0", "1", "77", "a.example\r\n", "", "1", "down"}));
    // All nine are in the store; sound and help are not written at unload.
    QCOMPARE(Settings::readToggle(Settings::kOnTop, 0), 1);
    QCOMPARE(Settings::readCount(Settings::kStopped, 0), 77);
    QCOMPARE(Settings::read(Settings::kDisallowed, "absent"), QString());
    QCOMPARE(Settings::read(Settings::kSound, "absent"), QString("absent"));
    QCOMPARE(Settings::read(Settings::kShowHelp, "absent"), QString("absent"));
}

void TestSettingsStore::largestCountReadsBackExactly()
{
    Settings::UnloadSnapshot s;
    s.blockedCount = kMaxCount;
    Settings::saveOnUnload(s);
    QCOMPARE(Settings::read(Settings::kStopped, QString()), QString("2147483647"));
    QCOMPARE(Settings::readCount(Settings::kStopped, 0), kMaxCount);
}

void TestSettingsStore::oddToggles_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("def");
    QTest::addColumn<int>("expected");
    QTest::newRow("word") << "chkStopPop" << 1 << 1;
    QTest::newRow("empty") << "chkAuto" << 1 << 1;
    QTest::newRow("wraps to 1 in 16 bits") << "chkOnTop" << 0 << 0;
    QTest::newRow("2") << "chkRunAtStart" << 0 << 0;
    QTest::newRow("minus zero") << "chkSound" << 1 << 0;
    QTest::newRow("spaces around") << "chkLinks" << 0 << 1;
    QTest::newRow("hex") << "toggleHex" << 0 << 0;
    QTest::newRow("decimal point") << "toggleDecimal" << 0 << 0;
    QTest::newRow("negative") << "toggleNegative" << 0 << 0;
    QTest::newRow("comma list") << "toggleList" << 0 << 0;
}

void TestSettingsStore::oddToggles()
{
    QFETCH(QString, key);
    QFETCH(int, def);
    QFETCH(int, expected);
    installConf("odd_values.conf");
    QCOMPARE(Settings::readToggle(key, def), expected);
}

void TestSettingsStore::oddCounts_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<qint32>("expected");
    QTest::newRow("just above the largest") << "intStopped" << kMaxCount;
    QTest::newRow("largest") << "countMax" << kMaxCount;
    QTest::newRow("padded") << "countPadded" << 42;
    QTest::newRow("plus sign") << "countPlus" << 7;
    QTest::newRow("negative") << "countNegative" << 0;
    QTest::newRow("below the smallest") << "countLowOverflow" << 0;
    QTest::newRow("would wrap to 1") << "countWraps" << kMaxCount;
    QTest::newRow("26 digits") << "countHuge" << kMaxCount;
    QTest::newRow("trailing letters") << "countTrailing" << 5;
    QTest::newRow("empty") << "countEmpty" << 5;
    QTest::newRow("decimal point") << "countDecimal" << 5;
    QTest::newRow("absent") << "countAbsent" << 5;
}

void TestSettingsStore::oddCounts()
{
    QFETCH(QString, key);
    QFETCH(qint32, expected);
    installConf("odd_values.conf");
    QCOMPARE(Settings::readCount(key, 5), expected);
}

void TestSettingsStore::textsAreReturnedAsStored()
{
    installConf("odd_values.conf");
    // The callers compare these exactly: only "up" and "1" count.
    QCOMPARE(Settings::read(Settings::kState, "up"), QString("UP"));
    QCOMPARE(Settings::read(Settings::kShowHelp, "1"), QString("01"));
    QCOMPARE(Settings::read("toggleList", QString()), QString("1,0"));
}

void TestSettingsStore::corruptFileStillReadsAndWrites()
{
    installConf("garbage.conf");
    QCOMPARE(Settings::readToggle(Settings::kStopPop, 1), 0);
    QCOMPARE(Settings::readCount(Settings::kStopped, 0), 17);
    QCOMPARE(Settings::readToggle(Settings::kAuto, 1), 1);
    Settings::write(Settings::kSound, "0");
    QCOMPARE(Settings::readToggle(Settings::kSound, 1), 0);
    QCOMPARE(Settings::readCount(Settings::kStopped, 0), 17); // kept by the rewrite
}

void TestSettingsStore::settingsFileThatIsAFolder()
{
    QVERIFY(QDir().mkpath(Paths::settingsFile()));
    QCOMPARE(Settings::readToggle(Settings::kStopPop, 1), 1);
    Settings::saveOnUnload(Settings::UnloadSnapshot{});
    Settings::write(Settings::kSound, "0");
    QCOMPARE(Settings::readToggle(Settings::kSound, 1), 1);
    QVERIFY(QFileInfo(Paths::settingsFile()).isDir());
}

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
