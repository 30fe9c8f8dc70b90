// Table engine durability: a run killed at any moment of building or packing
// a table leaves the old file or the complete new one, and the work files it
// leaves are removed at the next open; stale work files of other names stay;
// every file renamed over a table reached the disk first; a table larger than
// the memory the process may use is refused clearly.

#include "store/dbf.h"
#include "store/measurement.h"
#include "dbf_test_util.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QThread>
#include <QtTest>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifndef _WIN32
#include <sys/resource.h>
#endif

using dbf::Error;
using dbf::Table;
using namespace dbftest;

namespace {

constexpr int kOldRows = 3000;
constexpr int kNewRows = 60000;

enum ChildExit { kDone = 0, kMemory = 5, kCorrupt = 6, kOtherError = 4 };

// Builds a new table the way a download does: rows go to a work file beside
// the target in bulk, and the complete work file replaces the target.
int buildInChild(const QString& target) {
    const QString work = dbf::workFileBeside(target);
    Table::create(work, measurementFields());
    Table t;
    t.setFileName(work);
    t.open();
    t.beginBulk();
    t.reserveRows(kNewRows);
    for (int i = 0; i < kNewRows; ++i) {
        t.append();
        t.setInteger("N", i + 1);
        t.setInteger("MODE", 8);
        t.setString("COMMENT", QStringLiteral("новая"));
        t.post();
    }
    t.close();
    dbf::replaceWithWorkFile(work, target);
    return kDone;
}

int createInChild(const QString& target) {
    Table::create(target, measurementFields());
    return kDone;
}

int packInChild(const QString& target) {
    Table t;
    t.setFileName(target);
    t.open();
    t.pack();
    t.close();
    return kDone;
}

// Opens a table under an address-space limit of `mb` megabytes.
int openLimitedInChild(const QString& path, int mb) {
#ifndef _WIN32
    struct rlimit rl {};
    rl.rlim_cur = rl.rlim_max = rlim_t(mb) << 20;
    if (::setrlimit(RLIMIT_AS, &rl) != 0)
        return kOtherError;
#else
    Q_UNUSED(mb);
#endif
    Table t;
    t.setFileName(path);
    try {
        t.open();
        return kDone;
    } catch (const Error& e) {
        std::fputs(e.text().toLocal8Bit().constData(), stderr);
        return e.kind() == Error::Kind::Memory ? kMemory : e.kind() == Error::Kind::Corrupt ? kCorrupt : kOtherError;
    }
}

// Sorts a table by a long text field with only `mb` megabytes of address
// space left beyond what the open table uses: the failure is a clear Memory
// error, not a bare allocation failure.
int sortLimitedInChild(const QString& path, int mb) {
    Table t;
    t.setFileName(path);
    t.open();
    const int rows = t.recordCount();
#ifndef _WIN32
    qint64 vm = 0;
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("VmSize:"))
                vm = line.simplified().split(' ').value(1).toLongLong() * 1024;
    struct rlimit rl {};
    rl.rlim_cur = rl.rlim_max = rlim_t(vm + (qint64(mb) << 20));
    if (vm == 0 || ::setrlimit(RLIMIT_AS, &rl) != 0)
        return kOtherError;
#else
    Q_UNUSED(mb);
#endif
    try {
        t.createIndexTag("text", "ARTICLE", false);
        t.selectIndex("text");
        t.recordCount();
        return kDone;
    } catch (const Error& e) {
        std::fputs(e.text().toLocal8Bit().constData(), stderr);
        return e.kind() == Error::Kind::Memory && rows == 100000 ? kMemory : kOtherError;
    }
}

int fillOld(const QString& path, int rows, bool markEveryOther) {
    Table::create(path, measurementFields());
    Table t;
    t.setFileName(path);
    t.open();
    for (int i = 0; i < rows; ++i) {
        t.append();
        t.setInteger("N", i + 1);
        t.setInteger("MODE", 7);
        t.post();
    }
    if (markEveryOther)
        for (int i = 0; i < rows; i += 2)
            t.setDeleted(uint32_t(i), true);
    return rows;
}

}  // namespace

class TstDbfDurability : public QObject {
    Q_OBJECT

    QString dir_;
    QString path(const QString& name) const { return dir_ + u'/' + name; }
    // Each test in a folder of its own.
    void useFolder(const QString& name) {
        dir_ = workDir() + "/durability/" + name;
        QDir(dir_).removeRecursively();
        QVERIFY(QDir().mkpath(dir_));
    }

    // Runs the child with `args`, killed after `delayMs` (negative: let it end).
    static void runChild(const QStringList& args, int delayMs) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), args);
        QVERIFY(child.waitForStarted(30000));
        if (delayMs >= 0 && !child.waitForFinished(delayMs))
            child.kill();  // SIGKILL
        if (child.state() != QProcess::NotRunning)
            QVERIFY(child.waitForFinished(60000));
    }

    static qint64 timeChild(const QStringList& args) {
        QElapsedTimer clock;
        clock.start();
        runChild(args, -1);
        return clock.elapsed();
    }

    // The target opens; it is the old file byte for byte or the complete new
    // one; opening it leaves no work file beside it.
    void checkAfterKill(const QString& target, const QByteArray& old, int newRows, int newMode, int& oldSeen,
                        int& newSeen) {
        const QByteArray now = readAll(target);
        Table t;
        t.setFileName(target);
        t.open();
        if (now == old) {
            ++oldSeen;
        } else {
            ++newSeen;
            QCOMPARE(int(t.physicalCount()), newRows);
            QCOMPARE(t.deletedCount(), 0u);
            QCOMPARE(now.size(), qint64(1089) + qint64(newRows) * 547 + 1);
            t.last();
            QCOMPARE(t.asInteger("MODE"), newMode);
            t.first();
            QCOMPARE(t.asInteger("MODE"), newMode);
        }
        QCOMPARE(strayFiles(dir_, {QFileInfo(target).fileName()}), QStringList());
        t.close();
    }

private slots:
    void initTestCase() {
        dir_ = workDir() + "/durability";
        QDir(dir_).removeRecursively();
        QVERIFY(QDir().mkpath(dir_));
    }

    void killedBuildLeavesOldOrNew() {
        useFolder("build");
        const QString target = path("build.db");
        fillOld(target, kOldRows, false);
        const QByteArray old = readAll(target);
        const QString reference = path("reference.db");
        QVERIFY(QFile::copy(target, reference));
        const qint64 full = timeChild({"--build", reference});
        QVERIFY(QFile::remove(reference));
        int oldSeen = 0, newSeen = 0;
        for (int i = 0; i < 20; ++i) {
            QVERIFY(writeAll(target, old));
            const int delay = int(QRandomGenerator::global()->bounded(qint64(full * 13 / 10 + 1)));
            runChild({"--build", target}, delay);
            checkAfterKill(target, old, kNewRows, 8, oldSeen, newSeen);
            if (QTest::currentTestFailed())
                return;
        }
        qInfo("build killed 20 times (whole run %lld ms): old file %d, new file %d", full, oldSeen, newSeen);
    }

    void killedPackLeavesOldOrNew() {
        useFolder("pack");
        const QString target = path("pack.db");
        fillOld(target, kNewRows, true);
        const QByteArray old = readAll(target);
        const qint64 full = timeChild({"--pack", target});
        int oldSeen = 0, newSeen = 0;
        for (int i = 0; i < 20; ++i) {
            QVERIFY(writeAll(target, old));
            const int delay = int(QRandomGenerator::global()->bounded(qint64(full * 13 / 10 + 1)));
            runChild({"--pack", target}, delay);
            checkAfterKill(target, old, kNewRows / 2, 7, oldSeen, newSeen);
            if (QTest::currentTestFailed())
                return;
        }
        qInfo("pack killed 20 times (whole run %lld ms): old file %d, packed file %d", full, oldSeen, newSeen);
    }

    // A killed run cannot show a missing sync: the page cache outlives the
    // process.  So the system calls are watched: every file renamed (over a
    // table, or over a work file) was flushed with fsync or fdatasync after
    // its last write.
    void everyRenamedFileWasSyncedFirst() {
#ifdef _WIN32
        QSKIP("the system-call trace uses strace (Linux)");
#else
        if (QStandardPaths::findExecutable(QStringLiteral("strace")).isEmpty())
            QSKIP("strace is not installed");
        useFolder("trace");
        const QString target = path("trace.db");
        const QString log = path("strace.log");
        static const QRegularExpression call(
            QStringLiteral(R"(^(?:\d+ +)?(\w+)\((.*)\) += (-?\d+))"));
        static const QRegularExpression fdPath(QStringLiteral(R"(^\d+<([^>]*)>)"));
        static const QRegularExpression names(QStringLiteral(R"x("([^"]*)", (?:[^,]*, )?"([^"]*)")x"));
        for (const char* mode : {"--create", "--build", "--pack"}) {
            fillOld(target, 2000, true);
            QProcess child;
            child.start(QStringLiteral("strace"),
                        {"-f", "-y", "-qq", "-o", log, "-e",
                         "trace=fsync,fdatasync,rename,renameat,renameat2,write,pwrite64,pwritev,pwritev2",
                         QCoreApplication::applicationFilePath(), mode, target});
            QVERIFY(child.waitForFinished(120000));
            if (child.exitCode() != 0 && readAll(log).isEmpty())
                QSKIP(qPrintable("strace cannot trace here: " + QString::fromLocal8Bit(child.readAllStandardError())));
            QCOMPARE(child.exitCode(), int(kDone));
            QSet<QString> dirty, synced;
            int renames = 0;
            for (const QByteArray& raw : readAll(log).split('\n')) {
                const QRegularExpressionMatch m = call.match(QString::fromUtf8(raw));
                if (!m.hasMatch() || m.captured(3).toLongLong() < 0)
                    continue;
                const QString name = m.captured(1), args = m.captured(2);
                if (name.startsWith(QStringLiteral("rename"))) {
                    const QRegularExpressionMatch n = names.match(args);
                    QVERIFY2(n.hasMatch(), raw.constData());
                    // The trace names descriptors by their real path.
                    const QFileInfo from(n.captured(1));
                    const QString work = QFileInfo(from.absolutePath()).canonicalFilePath() + u'/' + from.fileName();
                    QVERIFY2(synced.contains(work) && !dirty.contains(work),
                             qPrintable(QStringLiteral("%1: renamed without a sync after its last write: %2")
                                            .arg(QString::fromLatin1(mode), QString::fromUtf8(raw))));
                    ++renames;
                    continue;
                }
                const QString file = fdPath.match(args).captured(1);
                if (name.contains(QStringLiteral("sync"))) {
                    dirty.remove(file);
                    synced.insert(file);
                } else {
                    dirty.insert(file);
                }
            }
            QVERIFY2(renames > 0, mode);  // the trace saw the replace
        }
#endif
    }

    // Only work files of this table's own pattern that nobody holds go.
    void staleWorkFilesOfThisTableOnly() {
        useFolder("stale");
        const QString target = path("t.db");
        Table::create(target, measurementFields());
        const QStringList stale{".t.db.0123456789abcdef.tmp", "..t.db.0123456789abcdef.tmp.fedcba9876543210.tmp"};
        QStringList kept{".t.db.0123.tmp", "t.db.0123456789abcdef.tmp", ".u.db.0123456789abcdef.tmp",
                         ".t.db.0123456789abcdef.tmp.bak", "..t.db.0123456789abcdef.tmp"};
#ifndef _WIN32
        kept << ".t.db.0123456789ABCDEF.tmp";  // a name of its own only where case counts
#endif
        for (const QString& n : stale + kept)
            QVERIFY(writeAll(path(n), "x"));
        // A work file in use (held open by a table) is not stale.
        const QString busy = path(".t.db.00000000000000aa.tmp");
        Table::create(busy, measurementFields());
        Table holder;
        holder.setFileName(busy);
        holder.open();

        Table t;
        t.setFileName(target);
        t.open();
        QStringList expected = kept;
        expected << "t.db" << QFileInfo(busy).fileName();
        expected.sort();
        QStringList left = QDir(dir_).entryList(QDir::Files | QDir::Hidden);
        left.sort();
        QCOMPARE(left.join(' '), expected.join(' '));
        t.close();
        holder.close();
        dbf::removeStaleWorkFiles(target);
        QVERIFY(!QFile::exists(busy));
        for (const QString& n : kept + QStringList{"t.db"})
            QVERIFY(QFile::remove(path(n)));
    }

    // A table file larger than the memory this process may use: a clear
    // refusal, not an allocation failure.  A zero-filled (sparse) table that
    // fits is damaged.
    void tooLargeForMemory() {
        useFolder("memory");
#ifdef _WIN32
        QSKIP("address-space limit is POSIX");
#else
        const QString p = path("huge.db");
        Table::create(p, measurementFields());
        QByteArray head = readAll(p).left(1089);
        const quint32 rows = 8000000;  // 4.4 GB of records
        std::memcpy(head.data() + 4, &rows, 4);
        QVERIFY(writeAll(p, head));
        QFile f(p);
        QVERIFY(f.resize(qint64(1089) + qint64(rows) * 547 + 1));  // sparse
        f.close();
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {"--open-limited", p, "1024"});
        QVERIFY(child.waitForFinished(60000));
        const QString err = QString::fromLocal8Bit(child.readAllStandardError());
        QCOMPARE(child.exitCode(), int(kMemory));
        QVERIFY2(err.contains(QStringLiteral("слишком велик")), qPrintable(err));

        const quint32 few = 20000;
        std::memcpy(head.data() + 4, &few, 4);
        QVERIFY(writeAll(p, head));
        QVERIFY(f.resize(qint64(1089) + qint64(few) * 547 + 1));
        f.close();
        Table t;
        t.setFileName(p);
        QString why;
        try {
            t.open();
        } catch (const Error& e) {
            QCOMPARE(e.kind(), Error::Kind::Corrupt);
            why = e.text();
        }
        QVERIFY2(why.contains(QStringLiteral("запись 1 повреждена")), qPrintable(why));
        QVERIFY(QFile::remove(p));

        // Sorting 100,000 rows by a 30-character text needs some 10 MB of
        // keys; with 8 MB to spare it fails as a Memory error.
        const QString s = path("sort.db");
        Table::create(s, measurementFields());
        {
            Table w;
            w.setFileName(s);
            w.open();
            w.beginBulk();
            for (int i = 0; i < 100000; ++i) {
                w.append();
                w.setString("ARTICLE", QStringLiteral("Плита %1 ").arg(100000 - i).repeated(10));
                w.post();
            }
        }
        child.start(QCoreApplication::applicationFilePath(), {"--sort-limited", s, "8"});
        QVERIFY(child.waitForFinished(60000));
        const QString sortErr = QString::fromLocal8Bit(child.readAllStandardError());
        QCOMPARE(child.exitCode(), int(kMemory));
        QVERIFY2(sortErr.contains(QStringLiteral("Недостаточно памяти")), qPrintable(sortErr));
        child.start(QCoreApplication::applicationFilePath(), {"--sort-limited", s, "512"});
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitCode(), int(kDone));
#endif
    }
};

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--build") == 0)
        return buildInChild(QString::fromLocal8Bit(argv[2]));
    if (argc == 3 && std::strcmp(argv[1], "--create") == 0)
        return createInChild(QString::fromLocal8Bit(argv[2]));
    if (argc == 3 && std::strcmp(argv[1], "--pack") == 0)
        return packInChild(QString::fromLocal8Bit(argv[2]));
    if (argc == 4 && std::strcmp(argv[1], "--sort-limited") == 0)
        return sortLimitedInChild(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]));
    if (argc == 4 && std::strcmp(argv[1], "--open-limited") == 0)
        return openLimitedInChild(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]));
    QCoreApplication app(argc, argv);
    TstDbfDurability t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_dbf_durability.moc"
