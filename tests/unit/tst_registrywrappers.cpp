// ShellEntries, RegistryValues and the browser toolbar button over a registry in a
// temporary config folder.

#include "core/paths.h"
#include "core/productinfo.h"
#include "core/registry.h"
#include "core/registryvalues.h"
#include "core/toolbarbutton.h"
#include "platform/shellentries.h"
#include "support/testenv.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QtTest>

#include <memory>

using namespace wendral;

namespace {

QString hive()
{
    return RegistryStore::hiveFile(HKEY_LOCAL_MACHINE);
}

// Writes a hive file by hand, as another tool would.
void writeHive(const QByteArray &body)
{
    QVERIFY(test::writeFile(hive(), "Windows Registry Editor Version 5.00\r\n\r\n" + body));
}

QString runValue(const QString &name)
{
    const auto v = RegistryStore::value(HKEY_LOCAL_MACHINE, ShellEntries::runKey(), name);
    return v ? RegistryStore::decodeString(v->data).chopped(1) : QString();
}

} // namespace

class TestRegistryWrappers : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void getStringReadsTextOnly();
    void getStringStopsAtFirstNul();
    void saveStringAndKeys();
    void runValues();
    void installedProgramsEntry();

    void trimKeySlashes_data();
    void trimKeySlashes();
    void readRegValue();
    void readRegValueFallsBackToReadOnly();
    void writeRegValue();
    void deleteRegEntry();

    void toolbarButton();
    void toolbarButtonWithoutRights();
    void probe();

private:
    std::unique_ptr<test::TestEnvironment> m_env;
};

void TestRegistryWrappers::init()
{
    RegistryStore::unloadAll();
    m_env = std::make_unique<test::TestEnvironment>();
    QVERIFY(m_env->isValid());
}

void TestRegistryWrappers::cleanup()
{
    QCOMPARE(RegistryStore::openHandleCount(), 0); // every wrapper closes what it opens
    RegistryStore::unloadAll();
    m_env.reset();
}

void TestRegistryWrappers::getStringReadsTextOnly()
{
    writeHive("[HKEY_LOCAL_MACHINE\\K]\r\n"
              "\"Text\"=\"Grüße, \\\"you\\\"\"\r\n"
              "\"Empty\"=\"\"\r\n"
              "\"Number\"=dword:00000001\r\n"
              "\"Expand\"=hex(2):41,00,00,00\r\n"
              "\"Binary\"=hex:41,00\r\n"
              "@=\"def\"\r\n");
    ShellEntries ar;
    QCOMPARE(ar.getString(HKEY_LOCAL_MACHINE, "K", "Text"), QString("Grüße, \"you\""));
    QCOMPARE(ar.getString(HKEY_LOCAL_MACHINE, "k", "TEXT"), QString("Grüße, \"you\""));
    QCOMPARE(ar.getString(HKEY_LOCAL_MACHINE, "K", ""), QString("def"));
    QCOMPARE(ar.getString(HKEY_LOCAL_MACHINE, "K", "Empty"), QString(""));
    // Missing value, missing key, and every type that is not REG_SZ: empty.
    QCOMPARE(ar.getString(HKEY_LOCAL_MACHINE, "K", "Missing"), QString());
    QCOMPARE(ar.getString(HKEY_LOCAL_MACHINE, "NoSuchKey", "Text"), QString());
    QCOMPARE(ar.getString(HKEY_CURRENT_USER, "K", "Text"), QString());
    QCOMPARE(ar.getString(HKEY_LOCAL_MACHINE, "K", "Number"), QString());
    QCOMPARE(ar.getString(HKEY_LOCAL_MACHINE, "K", "Expand"), QString());
    QCOMPARE(ar.getString(HKEY_LOCAL_MACHINE, "K", "Binary"), QString());
}

void TestRegistryWrappers::getStringStopsAtFirstNul()
{
    writeHive("[HKEY_LOCAL_MACHINE\\K]\r\n"
              "\"NoNul\"=hex(1):41,00,42,00,43,00\r\n"
              "\"Embedded\"=hex(1):41,00,00,00,42,00,00,00\r\n"
              "\"Leading\"=hex(1):00,00,42,00\r\n"
              "\"Nothing\"=hex(1):\r\n");
    ShellEntries ar;
    QCOMPARE(ar.getString(HKEY_LOCAL_MACHINE, "K", "NoNul"), QString("ABC")); // the whole data
    QCOMPARE(ar.getString(HKEY_LOCAL_MACHINE, "K", "Embedded"), QString("A"));
    QCOMPARE(ar.getString(HKEY_LOCAL_MACHINE, "K", "Leading"), QString(""));
    QCOMPARE(ar.getString(HKEY_LOCAL_MACHINE, "K", "Nothing"), QString(""));
    // The same values through RegistryValues, which only drops a terminating NUL.
    QCOMPARE(RegistryValues::readValue(HKEY_LOCAL_MACHINE, "K", "NoNul", "d"), QString("ABC"));
    QCOMPARE(RegistryValues::readValue(HKEY_LOCAL_MACHINE, "K", "Embedded", "d"), QString("A") + QChar(0) + "B");
    QCOMPARE(RegistryValues::readValue(HKEY_LOCAL_MACHINE, "K", "Nothing", "d"), QString("d"));
}

void TestRegistryWrappers::saveStringAndKeys()
{
    ShellEntries ar;
    ar.saveString(HKEY_CURRENT_USER, "Software\\A\\B", "v", "x \\ y");
    ar.saveKey(HKEY_CURRENT_USER, "Software\\Empty\\Key");
    ar.saveKey(HKEY_CURRENT_USER, "Software\\A"); // exists already: unchanged
    RegistryStore::unloadAll();
    QCOMPARE(ar.getString(HKEY_CURRENT_USER, "Software\\A\\B", "v"), QString("x \\ y"));
    QVERIFY(RegistryStore::keyExists(HKEY_CURRENT_USER, "Software\\Empty\\Key"));
    QCOMPARE(RegistryStore::value(HKEY_CURRENT_USER, "Software\\A\\B", "v")->type, REG_SZ);

    ar.saveString(HKEY_CURRENT_USER, "Software\\A\\B", "w", "2");
    ar.deleteValue(HKEY_CURRENT_USER, "Software\\A\\B", "v");
    QCOMPARE(RegistryStore::valueNames(HKEY_CURRENT_USER, "Software\\A\\B"), QStringList{"w"});
    ar.deleteValue(HKEY_CURRENT_USER, "Software\\Nowhere", "v"); // nothing to do, nothing breaks

    ar.deleteKey(HKEY_CURRENT_USER, "Software\\A"); // has a subkey: stays
    QVERIFY(RegistryStore::keyExists(HKEY_CURRENT_USER, "Software\\A\\B"));
    ar.deleteKey(HKEY_CURRENT_USER, "Software\\A\\B");
    QVERIFY(!RegistryStore::keyExists(HKEY_CURRENT_USER, "Software\\A\\B"));
    QVERIFY(RegistryStore::keyExists(HKEY_CURRENT_USER, "Software\\A"));
    // Nothing went into the machine hive.
    QVERIFY(!QFile::exists(hive()));
}

void TestRegistryWrappers::runValues()
{
    ShellEntries ar;
    ar.addToRun("Other", "/usr/bin/other");
    ar.addToRun("Wendral", "/opt/old/wendral");
    ar.addToRun("Wendral", "/opt/new place/wendral"); // overwrites
    QCOMPARE(runValue("Wendral"), QString("/opt/new place/wendral"));
    QCOMPARE(RegistryStore::valueNames(HKEY_LOCAL_MACHINE, ShellEntries::runKey()), (QStringList{"Other", "Wendral"}));

    ar.removeFromRun("Wendral");
    QCOMPARE(RegistryStore::valueNames(HKEY_LOCAL_MACHINE, ShellEntries::runKey()), QStringList{"Other"});
    // Removing what is not there changes nothing.
    const QByteArray before = test::readFile(hive());
    ar.removeFromRun("Wendral");
    ar.removeFromRun("Never added");
    QCOMPARE(test::readFile(hive()), before);
    QCOMPARE(runValue("Other"), QString("/usr/bin/other"));
}

void TestRegistryWrappers::installedProgramsEntry()
{
    ShellEntries ar;
    ar.addToList("Wendral", "/opt/wendral/uninstall --all");
    const QString key = ShellEntries::uninstallRoot() + "Wendral";
    QCOMPARE(key, QString("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Wendral"));
    QCOMPARE(RegistryStore::valueNames(HKEY_LOCAL_MACHINE, key), (QStringList{"DisplayName", "UninstallString"}));
    QCOMPARE(ar.getString(HKEY_LOCAL_MACHINE, key, "DisplayName"), QString("Wendral"));
    QCOMPARE(ar.getString(HKEY_LOCAL_MACHINE, key, "UninstallString"), QString("/opt/wendral/uninstall --all"));
    ar.removeFromList("Wendral");
    QVERIFY(!RegistryStore::keyExists(HKEY_LOCAL_MACHINE, key));
    QVERIFY(RegistryStore::keyExists(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"));
}

void TestRegistryWrappers::trimKeySlashes_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("trimmed");
    QTest::newRow("both ends") << "\\Software\\X\\"
                               << "Software\\X";
    QTest::newRow("two leading") << "\\\\Software"
                                 << "\\Software";
    QTest::newRow("two trailing") << "Software\\\\"
                                  << "Software\\";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("one slash") << "\\"
                               << "";
    QTest::newRow("two slashes") << "\\\\"
                                 << "";
    QTest::newRow("none") << "A\\B"
                          << "A\\B";
}

void TestRegistryWrappers::trimKeySlashes()
{
    QFETCH(QString, path);
    QFETCH(QString, trimmed);
    QCOMPARE(RegistryValues::trimKeySlashes(path), trimmed);
}

void TestRegistryWrappers::readRegValue()
{
    writeHive("[HKEY_LOCAL_MACHINE\\Software\\K]\r\n@=\"the default\"\r\n\"v\"=\"named\"\r\n\"e\"=\"\"\r\n"
              "[HKEY_LOCAL_MACHINE\\Software\\NoDefault]\r\n\"v\"=\"x\"\r\n");
    using RegistryValues::readValue;
    QCOMPARE(readValue(HKEY_LOCAL_MACHINE, "Software\\K", "*", "dflt"), QString("the default"));
    QCOMPARE(readValue(HKEY_LOCAL_MACHINE, "Software\\K", "", "dflt"), QString("the default"));
    QCOMPARE(readValue(HKEY_LOCAL_MACHINE, "\\Software\\K\\", "v", "dflt"), QString("named"));
    QCOMPARE(readValue(HKEY_LOCAL_MACHINE, "Software\\K", "e", "dflt"), QString(""));
    // Missing key, value or default value: the caller's default, unchanged.
    QCOMPARE(readValue(HKEY_LOCAL_MACHINE, "Software\\Missing", "v", "dflt"), QString("dflt"));
    QCOMPARE(readValue(HKEY_LOCAL_MACHINE, "Software\\K", "missing", "dflt"), QString("dflt"));
    QCOMPARE(readValue(HKEY_LOCAL_MACHINE, "Software\\NoDefault", "*", "dflt"), QString("dflt"));
    // Only one backslash is trimmed: a second one makes a path that is refused.
    QCOMPARE(readValue(HKEY_LOCAL_MACHINE, "\\\\Software\\K", "v", "dflt"), QString("dflt"));
    // "*" is only special as a whole name.
    QCOMPARE(readValue(HKEY_LOCAL_MACHINE, "Software\\K", "**", "dflt"), QString("dflt"));
}

void TestRegistryWrappers::readRegValueFallsBackToReadOnly()
{
    writeHive("[HKEY_LOCAL_MACHINE\\Software\\K]\r\n\"v\"=\"readable\"\r\n");
    QVERIFY(QFile::setPermissions(hive(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    QCOMPARE(RegistryValues::readValue(HKEY_LOCAL_MACHINE, "Software\\K", "v", "dflt"), QString("readable"));
    QVERIFY(!RegistryValues::writeValue(HKEY_LOCAL_MACHINE, "Software\\K", "v", "changed"));
    QVERIFY(!RegistryValues::writeValue(HKEY_LOCAL_MACHINE, "Software\\New", "v", "changed"));
    QVERIFY(!RegistryValues::deleteEntry(HKEY_LOCAL_MACHINE, "Software\\K", "v"));
    QVERIFY(!RegistryValues::deleteEntry(HKEY_LOCAL_MACHINE, "Software\\K", ""));
    QCOMPARE(RegistryValues::readValue(HKEY_LOCAL_MACHINE, "Software\\K", "v", "dflt"), QString("readable"));
    QVERIFY(!RegistryStore::keyExists(HKEY_LOCAL_MACHINE, "Software\\New"));
}

void TestRegistryWrappers::writeRegValue()
{
    using RegistryValues::readValue;
    using RegistryValues::writeValue;
    QVERIFY(writeValue(HKEY_LOCAL_MACHINE, "\\A\\B\\C\\D\\", "v", "deep"));
    QVERIFY(RegistryStore::keyExists(HKEY_LOCAL_MACHINE, "A"));
    QVERIFY(RegistryStore::keyExists(HKEY_LOCAL_MACHINE, "A\\B\\C\\D"));
    QVERIFY(writeValue(HKEY_LOCAL_MACHINE, "A\\B", "*", "default of B"));
    QVERIFY(writeValue(HKEY_LOCAL_MACHINE, "A\\B", "v", ""));
    RegistryStore::unloadAll();
    QCOMPARE(readValue(HKEY_LOCAL_MACHINE, "A\\B\\C\\D", "v", "x"), QString("deep"));
    QCOMPARE(readValue(HKEY_LOCAL_MACHINE, "A\\B", "", "x"), QString("default of B"));
    QCOMPARE(readValue(HKEY_LOCAL_MACHINE, "A\\B", "v", "x"), QString("")); // empty, not the default
    QCOMPARE(RegistryStore::value(HKEY_LOCAL_MACHINE, "A\\B", "")->type, REG_SZ);
    // A path the store refuses is reported, not written.
    QVERIFY(!writeValue(HKEY_LOCAL_MACHINE, "A\\\\B", "v", "x"));
    QVERIFY(!writeValue(HKEY_LOCAL_MACHINE, "A", "bad\nname", "x"));
    QVERIFY(!writeValue(0x12345678u, "A", "v", "x"));
}

void TestRegistryWrappers::deleteRegEntry()
{
    using RegistryValues::deleteEntry;
    using RegistryValues::writeValue;
    QVERIFY(writeValue(HKEY_LOCAL_MACHINE, "P\\Leaf", "*", "d"));
    QVERIFY(writeValue(HKEY_LOCAL_MACHINE, "P\\Leaf", "keep", "k"));
    QVERIFY(writeValue(HKEY_LOCAL_MACHINE, "P", "v", "1"));

    // "*" deletes only the default value.
    QVERIFY(deleteEntry(HKEY_LOCAL_MACHINE, "\\P\\Leaf\\", "*"));
    QCOMPARE(RegistryStore::valueNames(HKEY_LOCAL_MACHINE, "P\\Leaf"), QStringList{"keep"});
    QVERIFY(!deleteEntry(HKEY_LOCAL_MACHINE, "P\\Leaf", "*")); // already gone
    QVERIFY(!deleteEntry(HKEY_LOCAL_MACHINE, "P\\Missing", "v"));

    // An empty name deletes the key itself, but not one with subkeys.
    QVERIFY(!deleteEntry(HKEY_LOCAL_MACHINE, "P", ""));
    QVERIFY(RegistryStore::keyExists(HKEY_LOCAL_MACHINE, "P\\Leaf"));
    // The key path is taken as passed: with its slashes it names no key.
    QVERIFY(!deleteEntry(HKEY_LOCAL_MACHINE, "\\P\\Leaf\\", ""));
    QVERIFY(RegistryStore::keyExists(HKEY_LOCAL_MACHINE, "P\\Leaf"));
    QVERIFY(deleteEntry(HKEY_LOCAL_MACHINE, "P\\Leaf", ""));
    QVERIFY(!RegistryStore::keyExists(HKEY_LOCAL_MACHINE, "P\\Leaf"));
    QVERIFY(!deleteEntry(HKEY_LOCAL_MACHINE, "P\\Leaf", ""));
    QVERIFY(deleteEntry(HKEY_LOCAL_MACHINE, "P", "")); // now without subkeys
    RegistryStore::unloadAll();
    QVERIFY(!RegistryStore::keyExists(HKEY_LOCAL_MACHINE, "P"));
}

void TestRegistryWrappers::toolbarButton()
{
    const QString key = ToolbarButton::buttonKey();
    QCOMPARE(key,
             QString("Software\\Microsoft\\Internet Explorer\\Extensions\\{ECC5777A-6E88-BFCE-13CE-81F134789E7B}"));
    ToolbarButton button;
    button.add();
    const QStringList order = {"ButtonText", "CLSID", "Default Visible", "Exec",
                               "HotIcon",    "Icon",  "MenuStatusBar",   "MenuText"};
    QCOMPARE(RegistryStore::valueNames(HKEY_LOCAL_MACHINE, key), order);
    for (const QString &name : order)
        QCOMPARE(RegistryStore::value(HKEY_LOCAL_MACHINE, key, name)->type, REG_SZ);

    auto read = [&key](const QString &name) { return RegistryValues::readValue(HKEY_LOCAL_MACHINE, key, name, "?"); };
    QCOMPARE(read("ButtonText"), QString("Wendral"));
    QCOMPARE(read("CLSID"), QString("{1FBA04EE-3024-11D2-8F1F-0000F87ABD16}"));
    QCOMPARE(read("Default Visible"), QString("Yes"));
    QCOMPARE(read("MenuStatusBar"), QString("Wendral"));
    QCOMPARE(read("MenuText"), QString("&Wendral"));
    // Exec names the program's real, runnable executable (here: this test).
    const QString exec = read("Exec");
    QCOMPARE(exec, ProductInfo::executablePath());
    QCOMPARE(exec, button.execPath());
    QVERIFY(QFileInfo(exec).isAbsolute());
    QVERIFY(QFileInfo(exec).isExecutable());
    // The icons are real pictures in the program folder.
    QCOMPARE(read("Icon"), Paths::programDir() + "/icon.ico");
    QCOMPARE(read("HotIcon"), Paths::programDir() + "/hoticon.ico");
    for (const QString &icon : {read("Icon"), read("HotIcon")}) {
        QImageReader reader(icon);
        QCOMPARE(reader.format(), QByteArray("ico"));
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(icon + ": " + reader.errorString()));
        QVERIFY(image.width() >= 16);
    }

    // Adding again keeps the eight values and follows a moved program folder.
    Paths::setProgramDir(m_env->home() + "/moved");
    button.add();
    QCOMPARE(RegistryStore::valueNames(HKEY_LOCAL_MACHINE, key), order);
    QCOMPARE(read("Icon"), m_env->home() + "/moved/icon.ico");
    QCOMPARE(button.iconPath(), m_env->home() + "/moved/icon.ico");
    QCOMPARE(button.hotIconPath(), m_env->home() + "/moved/hoticon.ico");

    button.remove();
    QVERIFY(!RegistryStore::keyExists(HKEY_LOCAL_MACHINE, key));
    QVERIFY(RegistryStore::keyExists(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Internet Explorer\\Extensions"));
    // Removing a button that is not there changes nothing.
    const QByteArray before = test::readFile(hive());
    button.remove();
    QCOMPARE(test::readFile(hive()), before);
}

void TestRegistryWrappers::toolbarButtonWithoutRights()
{
    writeHive("[HKEY_LOCAL_MACHINE\\Software]\r\n");
    QVERIFY(QFile::setPermissions(hive(), QFile::ReadOwner));
    const QByteArray before = test::readFile(hive());
    ToolbarButton button;
    button.add(); // fails quietly
    QVERIFY(!RegistryStore::keyExists(HKEY_LOCAL_MACHINE, ToolbarButton::buttonKey()));
    QCOMPARE(button.execPath(), ProductInfo::executablePath()); // computed all the same
    button.remove();
    QCOMPARE(test::readFile(hive()), before);
}

void TestRegistryWrappers::probe()
{
    ToolbarButton button;
    button.probe();
    QCOMPARE(button.browserPath(), QString());

    writeHive("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\IEXPLORE.EXE]\r\n"
              "@=\"/usr/bin/chromium\"\r\n\"Path\"=\"/usr/bin\"\r\n");
    button.probe();
    QCOMPARE(button.browserPath(), QString("/usr/bin/chromium"));

    // A damaged hive does not stop the start-up, and the path read before is
    // not kept as if it were still there.
    QVERIFY(test::writeFile(hive(), QByteArray(1000, '\0') + "[\r\n\"@\"=hex(zz):\r\n"));
    button.probe();
    QCOMPARE(button.browserPath(), QString());
}

QTEST_GUILESS_MAIN(TestRegistryWrappers)
#include "tst_registrywrappers.moc"
