// Paths that are not regular files are refused with a reason, before anyone
// opens them: a FIFO would block the reader, a folder or a device cannot be
// a database or an image.
#include "ground/file_kind.h"
#include "ground/system_error.h"
#include "device/memory_image.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <cstring>
#include <memory>

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#else
#include <windows.h>
#endif

class TestFileKind : public QObject {
    Q_OBJECT
private slots:
    void regularMissingAndLinksAreFine();
    void specialFilesHaveReasons();
    void loadBinRefusesFifoAtOnce();
    void systemReasonsAreRussian();
};

void TestFileKind::regularMissingAndLinksAreFine()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("база.db"));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    QCOMPARE(notRegularFileReason(file), QString());
    QCOMPARE(notRegularFileReason(dir.filePath(QStringLiteral("новая.db"))), QString());
    QCOMPARE(notRegularFileReason(dir.filePath(QStringLiteral("нет/такой/папки.db"))), QString());
    QVERIFY(!notRegularFileReason(QString()).isEmpty());
#ifndef _WIN32
    const QString link = dir.filePath(QStringLiteral("link.db"));
    QVERIFY(QFile::link(file, link));
    QCOMPARE(notRegularFileReason(link), QString());
#endif
}

void TestFileKind::specialFilesHaveReasons()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("папка.db"));
    QVERIFY(QDir().mkdir(folder));
    QString why = notRegularFileReason(folder);
    QVERIFY2(why.contains(QStringLiteral("папка")) && why.contains(QDir::toNativeSeparators(folder)), qPrintable(why));
#ifndef _WIN32
    const QString fifo = dir.filePath(QStringLiteral("pipe.bin"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QVERIFY(notRegularFileReason(fifo).contains(QStringLiteral("FIFO")));
    QVERIFY(notRegularFileReason(QStringLiteral("/dev/null")).contains(QStringLiteral("устройство")));
    // A link to a device is the device.
    const QString link = dir.filePath(QStringLiteral("null.db"));
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), link));
    QVERIFY(notRegularFileReason(link).contains(QStringLiteral("устройство")));

    const QString sock = dir.filePath(QStringLiteral("s.db"));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(sock);
    if (fd >= 0 && size_t(name.size()) < sizeof addr.sun_path) {
        std::memcpy(addr.sun_path, name.constData(), size_t(name.size()));
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        QVERIFY(notRegularFileReason(sock).contains(QStringLiteral("сокет")));
    }
    if (fd >= 0)
        ::close(fd);
#else
    // Device names stand in every folder, with or without an extension.
    for (const QString& dev : {QStringLiteral("NUL"), QStringLiteral("com1"), dir.filePath(QStringLiteral("aux.db")),
                               dir.filePath(QStringLiteral("Con.xls")), QStringLiteral("\\\\.\\COM3")})
        QVERIFY2(notRegularFileReason(dev).contains(QStringLiteral("устройство")), qPrintable(dev));
    QCOMPARE(notRegularFileReason(dir.filePath(QStringLiteral("com10.db"))), QString());
    QCOMPARE(notRegularFileReason(dir.filePath(QStringLiteral("console.db"))), QString());
#endif
}

void TestFileKind::loadBinRefusesFifoAtOnce()
{
#ifdef _WIN32
    QSKIP("no FIFOs");
#else
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("image.bin"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    auto image = std::make_unique<device::MemoryImage>();
    image->leading()[0] = 0x5A;
    QElapsedTimer t;
    t.start();
    const device::LoadResult r = device::loadBin(*image, fifo);
    QVERIFY(t.elapsed() < 1000);
    QVERIFY(!r.ok);
    QVERIFY(r.message.contains(QStringLiteral("FIFO")));
    QCOMPARE(image->leading()[0], uint8_t(0x5A));
    QVERIFY(!device::loadBin(*image, dir.path()).ok);
#endif
}

// The C library's reasons are English under most locales; the program's
// messages carry Russian ones.
void TestFileKind::systemReasonsAreRussian()
{
    static const QRegularExpression english(QStringLiteral("[A-Za-z]{3,}"));
    for (int e : {ENOENT, EACCES, EROFS, ENOSPC, EISDIR, EAGAIN, EIO}) {
        const QString why = systemErrorText(e);
        QVERIFY2(!why.isEmpty() && !english.match(why).hasMatch(), qPrintable(why));
    }
    QVERIFY(systemErrorText(123456).contains(QStringLiteral("123456")));
    // Reasons of failed writes, from errno or (errno lost) from Qt's kind.
    QCOMPARE(writeErrorText(ENOSPC), QStringLiteral("Недостаточно места на диске"));
    QCOMPARE(writeErrorText(EACCES), QStringLiteral("Нет прав на запись"));
    QCOMPARE(writeErrorText(EPERM), QStringLiteral("Нет прав на запись"));
#ifdef _WIN32
    QCOMPARE(writeErrorTextWin(ERROR_DISK_FULL), QStringLiteral("Недостаточно места на диске"));
    QCOMPARE(writeErrorTextWin(ERROR_ACCESS_DENIED), QStringLiteral("Нет прав на запись"));
    QVERIFY(writeErrorTextWin(ERROR_SHARING_VIOLATION).contains(QStringLiteral("другой программой")));
    QVERIFY(writeErrorTextWin(1117).contains(QStringLiteral("1117")));  // ERROR_IO_DEVICE: the system's text
#endif
    QCOMPARE(fileErrorText(QFileDevice::WriteError, ENOSPC), QStringLiteral("Недостаточно места на диске"));
    QCOMPARE(fileErrorText(QFileDevice::ResourceError, 0), QStringLiteral("Недостаточно места на диске"));
    for (int k = QFileDevice::NoError; k <= QFileDevice::CopyError; ++k) {
        const QString why = fileErrorText(QFileDevice::FileError(k), 0);
        QVERIFY2(!why.isEmpty() && why[0].isUpper() && !english.match(why).hasMatch(), qPrintable(why));
    }

    QTemporaryDir dir;
    auto image = std::make_unique<device::MemoryImage>();
    const device::LoadResult r = device::loadBin(*image, dir.filePath(QStringLiteral("нет.bin")));
    QVERIFY(!r.ok);
    QVERIFY2(r.message.contains(QStringLiteral("нет такого файла")), qPrintable(r.message));
}

QTEST_GUILESS_MAIN(TestFileKind)
#include "test_file_kind.moc"
