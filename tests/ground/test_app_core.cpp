// Settings key store, file version information, locale, help file lookup.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "ground/app_locale.h"
#include "ground/help.h"
#include "ground/settings_key.h"
#include "ground/version_info.h"

#ifdef _WIN32
#include <windows.h>
#endif

class AppCoreTest : public QObject {
    Q_OBJECT
private slots:
    void settingsRoundTrip();
    void settingsSurviveForeignLines();
    void settingsDefaultFileFollowsXdg();
    void versionBlock();
    void versionMissingPieces();
    void versionInFile();
    void programCarriesItsVersion();
    void russianLocale();
    void helpFileBesideOrInstalled();
};

void AppCoreTest::settingsRoundTrip()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("sub/ORL.reg"));
    SettingsKey key(file);
    QVERIFY(QFile::exists(file));  // the key is created when missing
    QVERIFY(!key.exists(QStringLiteral("Default_dir")));
    QCOMPARE(key.readString(QStringLiteral("Default_dir")), QString());
    QCOMPARE(key.readBool(QStringLiteral("KP_MAN")), false);

    // A grid layout: several lines with CR LF, quotes, backslashes, Cyrillic.
    const QString layout = QStringLiteral("N width=47\r\nCOMMENT color=#ffcc00 \"x\\y\"\r\nПримечание\ttab\r\n\r\n");
    key.writeString(QStringLiteral("Table_1"), layout);
    key.writeString(QStringLiteral("Default_dir"), QStringLiteral("C:\\Данные\\ДОРК"));
    key.writeBool(QStringLiteral("KP_MAN"), true);
    key.writeBool(QStringLiteral("V_MODE"), false);

    // A second object on the same file sees everything at once (no cache).
    SettingsKey other(file);
    QCOMPARE(other.readString(QStringLiteral("Table_1")), layout);
    QCOMPARE(other.readString(QStringLiteral("Default_dir")), QStringLiteral("C:\\Данные\\ДОРК"));
    QVERIFY(other.readBool(QStringLiteral("KP_MAN")));
    QVERIFY(other.exists(QStringLiteral("V_MODE")));
    QVERIFY(!other.readBool(QStringLiteral("V_MODE")));
    // Kinds are kept: a boolean is not a string and the other way round.
    QCOMPARE(other.readString(QStringLiteral("KP_MAN")), QString());
    QVERIFY(!other.readBool(QStringLiteral("Default_dir")));

    // The file names the key path and the kinds.
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(f.readAll());
    f.close();  // an open file cannot be replaced on Windows
    QVERIFY(text.contains(QStringLiteral("[HKEY_CURRENT_USER\\Software\\Morvisk\\ORL\\1.0]")));
    QVERIFY(text.contains(QStringLiteral("\"KP_MAN\"=dword:00000001")));
    QVERIFY(text.contains(QStringLiteral("\"V_MODE\"=dword:00000000")));

    // Overwriting keeps one value per name.
    other.writeString(QStringLiteral("Table_1"), QStringLiteral("short"));
    QCOMPARE(key.readString(QStringLiteral("Table_1")), QStringLiteral("short"));
}

void AppCoreTest::settingsSurviveForeignLines()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("ORL.reg"));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("garbage line\n[HKEY_CURRENT_USER\\Other]\n\"Default_dir\"=\"wrong\"\n"
            "[HKEY_CURRENT_USER\\Software\\Morvisk\\ORL\\1.0]\n\"KP\"=\"0,7\"\n\"bad=\n\"ST_MAN\"=dword:zz\n");
    f.close();
    SettingsKey key(file);
    QCOMPARE(key.readString(QStringLiteral("KP")), QStringLiteral("0,7"));
    QVERIFY(!key.exists(QStringLiteral("Default_dir")));  // belongs to another key
    QVERIFY(!key.exists(QStringLiteral("ST_MAN")));
}

void AppCoreTest::settingsDefaultFileFollowsXdg()
{
#ifdef _WIN32
    // The default store is the registry key of the current user: strings as
    // REG_SZ, booleans as REG_DWORD.
    SettingsKey key;
    QCOMPARE(key.location(), QStringLiteral("HKEY_CURRENT_USER\\Software\\Morvisk\\ORL\\1.0"));
    const QString name = QStringLiteral("dork5_test_%1_").arg(QCoreApplication::applicationPid());
    key.writeString(name + "s", QStringLiteral("C:\\Данные"));
    key.writeBool(name + "b", true);
    QCOMPARE(SettingsKey().readString(name + "s"), QStringLiteral("C:\\Данные"));
    QVERIFY(SettingsKey().readBool(name + "b"));
    QVERIFY(!SettingsKey().readBool(name + "s"));
    QCOMPARE(SettingsKey().kind(name + "s"), SettingsKey::Kind::String);
    QCOMPARE(SettingsKey().kind(name + "b"), SettingsKey::Kind::Bool);
    QCOMPARE(SettingsKey().kind(name + "x"), SettingsKey::Kind::Missing);
    HKEY k = nullptr;
    QCOMPARE(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Morvisk\\ORL\\1.0", 0, KEY_READ | KEY_WRITE, &k),
             LONG(ERROR_SUCCESS));
    auto kind = [&](const QString& n) {
        DWORD type = 0;
        RegQueryValueExW(k, reinterpret_cast<LPCWSTR>(n.utf16()), nullptr, &type, nullptr, nullptr);
        return type;
    };
    QCOMPARE(kind(name + "s"), DWORD(REG_SZ));
    QCOMPARE(kind(name + "b"), DWORD(REG_DWORD));
    for (const QString& n : {name + "s", name + "b"})
        RegDeleteValueW(k, reinterpret_cast<LPCWSTR>(n.utf16()));
    RegCloseKey(k);
#else
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    QCOMPARE(SettingsKey::defaultFile(), dir.filePath(QStringLiteral("Morvisk/ORL.reg")));
    SettingsKey key;
    key.writeString(QStringLiteral("Default_dir"), QStringLiteral("/x"));
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("Morvisk/ORL.reg"))));
#endif
}

static VersionFields fields(const QString& version, uint16_t lang = 0x0419, uint16_t cp = 0x04E3)
{
    VersionFields f;
    f.language = lang;
    f.codePage = cp;
    f.strings = {{QStringLiteral("CompanyName"), QStringLiteral("Morvisk")},
                 {QStringLiteral("FileVersion"), version}};
    return f;
}

void AppCoreTest::versionBlock()
{
    const QByteArray b = buildVersionInfo(fields(QStringLiteral("1.0.1.1")));
    // The block starts with its own length and the fixed-info length.
    QCOMPARE(int(uchar(b[0]) | uchar(b[1]) << 8), b.size());
    QCOMPARE(int(uchar(b[2])), 52);
    const QByteArray tr = queryVersionValue(b, QStringLiteral("\\VarFileInfo\\Translation"));
    QCOMPARE(tr, QByteArray("\x19\x04\xE3\x04", 4));
    QCOMPARE(queryVersionString(b, QStringLiteral("\\StringFileInfo\\041904E3\\CompanyName")), QStringLiteral("Morvisk"));
    QCOMPARE(versionFromBlock(b), QStringLiteral("1.0.1.1"));
    // Another translation: the key follows it (upper-case hex).
    QCOMPARE(versionFromBlock(buildVersionInfo(fields(QStringLiteral("2.3.4.5"), 0x0409, 0x04B0))),
             QStringLiteral("2.3.4.5"));
}

void AppCoreTest::versionMissingPieces()
{
    VersionFields none;
    none.strings = {{QStringLiteral("ProductName"), QStringLiteral("x")}};
    QCOMPARE(versionFromBlock(buildVersionInfo(none)), QStringLiteral("0.0.0.0"));
    QCOMPARE(versionFromBlock(buildVersionInfo(fields(QStringLiteral("7")))), QStringLiteral("0.0.0.0"));
    QCOMPARE(versionFromBlock(QByteArray()), QStringLiteral("0.0.0.0"));
    QCOMPARE(versionFromBlock(QByteArray("\xff\xff\x00", 3)), QStringLiteral("0.0.0.0"));
}

void AppCoreTest::versionInFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("prog"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    // Decoys: the key text without a valid block around it.
    QByteArray decoy;
    for (QChar c : QStringLiteral("VS_VERSION_INFO"))
        decoy += char(c.unicode()), decoy += '\0';
    f.write(QByteArray(37, 'x') + decoy + QByteArray(3, '\0'));
    f.write(buildVersionInfo(fields(QStringLiteral("2.3.4.5"))));
    f.write(QByteArray(100, 'y'));
    f.close();
    QCOMPARE(get_version(path), QStringLiteral("2.3.4.5"));

    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(37, 'x') + decoy);
    f.close();
    QCOMPARE(get_version(path), QStringLiteral("0.0.0.0"));
    QCOMPARE(get_version(dir.filePath(QStringLiteral("missing"))), QStringLiteral("0.0.0.0"));
}

void AppCoreTest::programCarriesItsVersion()
{
    QCOMPARE(get_version(QStringLiteral(DORK5_EXE)), QStringLiteral("1.0.1.1"));
    // This test binary has no version information of its own.
    QCOMPARE(get_version(QCoreApplication::applicationFilePath()), QStringLiteral("0.0.0.0"));
}

void AppCoreTest::russianLocale()
{
    installAppLocale();
    QCOMPARE(QLocale().toString(0.7, 'g', QLocale::FloatingPointShortest), QStringLiteral("0,7"));
    QCOMPARE(QLocale().toString(QDate(2015, 3, 2), QStringLiteral("dd.MM.yyyy")), QStringLiteral("02.03.2015"));
    bool ok = false;
    QCOMPARE(QLocale().toDouble(QStringLiteral("0,7"), &ok), 0.7);
    QVERIFY(ok);
    QCOMPARE(QLocale().toString(12345.5, 'f', 1), QStringLiteral("12345,5"));
}

// Beside the program wins; an installed program (prefix/bin) finds it in
// prefix/share/dork5; a folder of that name is no help file.
void AppCoreTest::helpFileBesideOrInstalled()
{
    QTemporaryDir dir;
    const QDir root(dir.path());
    QVERIFY(root.mkpath(QStringLiteral("bin")) && root.mkpath(QStringLiteral("share/dork5")));
    const QString bin = root.filePath(QStringLiteral("bin"));
    QCOMPARE(findHelpFile(bin), QString());
    QVERIFY(root.mkpath(QStringLiteral("bin/orl.hlp")));
    QCOMPARE(findHelpFile(bin), QString());
    const QString shared = root.filePath(QStringLiteral("share/dork5/orl.hlp"));
    QVERIFY(QFile(shared).open(QIODevice::WriteOnly));
    QCOMPARE(findHelpFile(bin), shared);
    QVERIFY(root.rmdir(QStringLiteral("bin/orl.hlp")));
    QVERIFY(QFile(root.filePath(QStringLiteral("bin/orl.hlp"))).open(QIODevice::WriteOnly));
    QCOMPARE(findHelpFile(bin), root.filePath(QStringLiteral("bin/orl.hlp")));
}

QTEST_GUILESS_MAIN(AppCoreTest)
#include "test_app_core.moc"
