// Qt's own texts are Russian: the catalogue loads, and the file dialog the
// program shows (Qt's own widget dialog where no desktop dialog exists)
// carries no English word.
#include "ground/app_locale.h"
#include "ground/dialogs.h"
#include "ground/qt_translations.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

// Every text a user can read in the window: captions, labels, buttons and
// their tips, list entries and column titles.
QStringList visibleTexts(QWidget& w)
{
    QStringList out{w.windowTitle()};
    for (QWidget* c : w.findChildren<QWidget*>()) {
        if (!c->isVisible())
            continue;
        out << c->toolTip();
        if (auto* l = qobject_cast<QLabel*>(c))
            out << l->text();
        if (auto* b = qobject_cast<QAbstractButton*>(c))
            out << b->text();
        if (auto* e = qobject_cast<QLineEdit*>(c))
            out << e->placeholderText();
        if (auto* box = qobject_cast<QComboBox*>(c))
            for (int i = 0; i < box->count(); ++i)
                out << box->itemText(i);
        if (auto* v = qobject_cast<QAbstractItemView*>(c)) {
            QAbstractItemModel* m = v->model();
            const QModelIndex root = v->rootIndex();
            for (int col = 0; col < m->columnCount(root); ++col)
                out << m->headerData(col, Qt::Horizontal).toString();
            for (int row = 0; row < m->rowCount(root); ++row)
                for (int col = 0; col < m->columnCount(root); ++col)
                    out << m->index(row, col, root).data().toString();
        }
    }
    return out;
}

}  // namespace

class TestQtTranslations : public QObject {
    Q_OBJECT
private slots:
    void catalogueLoads();
    void fileDialogHasNoEnglishWords();
};

void TestQtTranslations::catalogueLoads()
{
    QVERIFY2(installQtTranslations(), qPrintable(qtTranslationsFolder()));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Отмена"));
    QCOMPARE(QCoreApplication::translate("QAbstractFileIconProvider", "Folder", "All other platforms"),
             QStringLiteral("Папка"));
    // Texts of our own pass through unchanged.
    QCOMPARE(QCoreApplication::translate("TForm1", "Создать"), QStringLiteral("Создать"));
}

void TestQtTranslations::fileDialogHasNoEnglishWords()
{
    installAppLocale();
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("архив")));
    QFile f(dir.filePath(QStringLiteral("проба.db")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(100, 'x'));
    f.close();

    ui::FileRequest r;
    r.caption = QStringLiteral("Открыть базу данных");
    r.directory = dir.path();
    r.filter = QStringLiteral("Базы данных|*.db");
    r.defaultSuffix = QStringLiteral("db");
    for (bool save : {false, true}) {
        QStringList texts;
        bool listed = false;
        // The program's own dialog, read and closed once its folder is listed.
        QTimer poll;
        QElapsedTimer waited;
        waited.start();
        connect(&poll, &QTimer::timeout, this, [&] {
            auto* dlg = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dlg)
                return;
            texts = visibleTexts(*dlg);
            listed = texts.contains(QStringLiteral("проба.db"));
            if (listed || waited.elapsed() > 5000)
                dlg->reject();
        });
        poll.start(100);
        const QString chosen = save ? ui::dialogs().saveFile(nullptr, r) : ui::dialogs().openFile(nullptr, r);
        poll.stop();
        QVERIFY(chosen.isEmpty());
        QVERIFY2(listed, qPrintable(texts.join(QLatin1Char('|'))));

        const QStringList own = {QDir::home().dirName(), QDir::rootPath()};
        static const QRegularExpression english(QStringLiteral("[A-Za-z]{3,}"));
        for (QString text : std::as_const(texts)) {
            text.remove(dir.path());
            text.remove(QDir::toNativeSeparators(dir.path()));
            if (own.contains(text))
                continue;
            QVERIFY2(!english.match(text).hasMatch(), qPrintable(text));
        }
    }
}

QTEST_MAIN(TestQtTranslations)
#include "test_qt_translations.moc"
