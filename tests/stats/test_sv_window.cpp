// The S and V window over real table files: the groups it offers, the choice
// rules of both modes, the inputs, the settings it keeps, its results, and the
// table left as it was found.
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QElapsedTimer>
#include <QtTest>
#include <cmath>

#include "ground/dialogs.h"
#include "ground/settings_key.h"
#include "stats/sv_window.h"
#include "sv_test_table.h"
#include "tests/object_names.h"
#include "mainwindow/main_window.h"
#include "views/record_grid.h"

using namespace svtest;

namespace {

const QString FormatMsg = QStringLiteral("Неверный формат данных!");
const QString KpMsg = QStringLiteral("Вне диапазона (не менее 0.7) !");
const QString StMsg = QStringLiteral("Вне диапазона (от 0 до 100 МПа) !");
const QString MismatchMsg = QStringLiteral("Измерения проведены с разными индивидуальными зависимостями");

// Sm and Vm worked out here, the way the results are defined, for comparison
// with the window's labels.
QString sectionTexts(const std::vector<double>& v, double st, double kp)
{
    double mean = 0;
    for (double x : v)
        mean += x;
    mean /= double(v.size());
    double q = 0;
    for (double x : v)
        q += (x - mean) * (x - mean);
    const double n1 = double(v.size()) - 1;
    const double sm = (std::sqrt(q / n1) + st / n1) / (0.7 * kp + 0.3);
    return QString::asprintf("=%.2f МПа|=%.1f%%", sm, sm / mean * 100).replace(u'.', u',');
}

QString constructionTexts(const std::vector<std::vector<double>>& groups, double st)
{
    std::vector<double> means;
    for (const auto& g : groups) {
        double s = 0;
        for (double x : g)
            s += x;
        means.push_back(s / double(g.size()));
    }
    double m = 0;
    for (double x : means)
        m += x;
    m /= double(means.size());
    double d = 0;
    for (double x : means)
        d += (x - m) * (x - m);
    const double sm = std::sqrt(d / double(means.size() - 1) + st * st / double(groups.back().size()));
    return QString::asprintf("=%.2f МПа|=%.1f%%", sm, sm * 100 / m).replace(u'.', u',');
}

}  // namespace

class SvWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<SettingsKey> settings_;
    std::unique_ptr<ui::ScriptedDialogs> dialogs_;
    std::unique_ptr<ui::ScopedDialogs> scope_;
    std::unique_ptr<dbf::Table> table_;
    std::unique_ptr<TForm3> form_;
    QString path_;
    QByteArray fileBefore_;
    QList<uint32_t> viewBefore_;

    TForm3& f() { return *form_; }
    SettingsKey& settings() { return *settings_; }

    QList<uint32_t> view()
    {
        QList<uint32_t> v;
        for (int i = 0; i < table_->recordCount(); ++i)
            v << table_->physicalRecNoAt(i);
        return v;
    }

    // Writes the table, opens it under the tab filter and shows the window.
    void openWindow(const std::vector<Row>& rows, const QString& filter = QStringLiteral("MODE=0"),
                    bool settle = true)
    {
        writeTable(path_, rows);
        table_ = std::make_unique<dbf::Table>();
        openUnder(*table_, path_, filter);
        QFile file(path_);
        QVERIFY(file.open(QIODevice::ReadOnly));
        fileBefore_ = file.readAll();
        viewBefore_ = view();
        form_ = std::make_unique<TForm3>(*table_, *settings_);
        form_->show();
        if (settle)
            QCoreApplication::processEvents();
    }

    // The table is back under the tab filter with the same records, and the
    // file is untouched.
    void verifyTableAsBefore(const QString& filter = QStringLiteral("MODE=0"))
    {
        QCOMPARE(table_->filter(), filter);
        QVERIFY(table_->filtered());
        QCOMPARE(view(), viewBefore_);
        QFile file(path_);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll() == fileBefore_);
    }

    QStringList listed()
    {
        QStringList out;
        for (int i = 0; i < f().CheckListBox1->count(); ++i)
            out << f().CheckListBox1->item(i)->text();
        return out;
    }
    // Letters whose items can be toggled.
    QStringList enabled()
    {
        QStringList out;
        for (int i = 0; i < f().CheckListBox1->count(); ++i)
            if (f().CheckListBox1->item(i)->flags() & Qt::ItemIsEnabled)
                out << f().CheckListBox1->item(i)->text();
        return out;
    }
    // The user toggles the check mark of a group.
    void toggle(const QString& letter)
    {
        const auto items = f().CheckListBox1->findItems(letter, Qt::MatchExactly);
        QCOMPARE(items.size(), 1);
        QListWidgetItem* item = items.first();
        QVERIFY(item->flags() & Qt::ItemIsEnabled);
        item->setCheckState(item->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    }
    QString results() { return f().StaticText7->text() + QLatin1Char('|') + f().StaticText8->text(); }
    QStringList messages()
    {
        QStringList out;
        for (const auto& m : dialogs_->messages) {
            out << m.text;
            if (m.caption != QStringLiteral("Дополнение") || m.icon != ui::Icon::Error || m.buttons != ui::Buttons::Ok)
                out << QStringLiteral("(wrong box)");
        }
        return out;
    }

private slots:
    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        path_ = dir_->filePath(QStringLiteral("sv.db"));
        settings_ = std::make_unique<SettingsKey>(dir_->filePath(QStringLiteral("cfg/ORL.reg")));
        dialogs_ = std::make_unique<ui::ScriptedDialogs>();
        scope_ = std::make_unique<ui::ScopedDialogs>(dialogs_.get());
    }
    void cleanup()
    {
        form_.reset();
        table_.reset();
        scope_.reset();
        dialogs_.reset();
        settings_.reset();
        dir_.reset();
    }

    void firstOpeningWritesDefaults()
    {
        openWindow(group("A", {1, 2, 3, 4}));
        QCOMPARE(settings().readBool(QStringLiteral("V_MODE")), true);
        QVERIFY(settings().exists(QStringLiteral("V_MODE")));
        QCOMPARE(settings().readString(QStringLiteral("KP")), QStringLiteral("0,7"));
        QCOMPARE(settings().readString(QStringLiteral("ST")), QStringLiteral("0,00"));
        QVERIFY(settings().exists(QStringLiteral("KP_MAN")));
        QCOMPARE(settings().readBool(QStringLiteral("KP_MAN")), false);
        QVERIFY(!settings().exists(QStringLiteral("ST_MAN")));

        QCOMPARE(f().windowTitle(), QStringLiteral("Расчет Sm и Vm"));
        QCOMPARE(f().size(), QSize(457, 299));
        QCOMPARE(f().minimumSize(), f().maximumSize());
        QVERIFY(!(f().windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QCOMPARE(f().GroupBox2->title(), QStringLiteral("r && Sт"));
        QCOMPARE(f().GroupBox3->title(), QStringLiteral("S && V"));
        QCOMPARE(f().StaticText3->text() + f().StaticText6->text(), QStringLiteral("Sm"));
        QCOMPARE(f().StaticText4->text() + f().StaticText5->text(), QStringLiteral("Vm"));
        QVERIFY(f().StaticText6->font().pixelSize() < f().StaticText3->font().pixelSize());
        QVERIFY(f().StaticText6->y() > f().StaticText3->y());

        QVERIFY(f().RadioButton1->isChecked());
        QVERIFY(f().singleChoice());
        QCOMPARE(f().Edit2->text(), QStringLiteral("0,7"));
        QCOMPARE(f().Edit1->text(), QStringLiteral("0,00"));
        QVERIFY(!f().CheckBox1->isChecked());
        QVERIFY(!f().Edit1->isEnabled());
        QVERIFY(!f().Edit2->isEnabled());
        QVERIFY(f().StaticText2->isEnabled());
        QVERIFY(!f().Button1->isEnabled());
        QCOMPARE(results(), QStringLiteral("=|="));
        verifyTableAsBefore();

        // Hiding stores the mode and both texts as they stand.
        f().RadioButton2->click();
        f().Edit1->setText(QStringLiteral("xyz"));
        f().hide();
        QCOMPARE(settings().readBool(QStringLiteral("V_MODE")), false);
        QCOMPARE(settings().readString(QStringLiteral("ST")), QStringLiteral("xyz"));
        QCOMPARE(settings().readString(QStringLiteral("KP")), QStringLiteral("0,7"));
        QVERIFY(settings().exists(QStringLiteral("ST_MAN")));
        QVERIFY(messages().isEmpty());
    }

    void settingsComeBack()
    {
        settings().writeBool(QStringLiteral("V_MODE"), false);
        settings().writeBool(QStringLiteral("ST_MAN"), true);
        settings().writeBool(QStringLiteral("KP_MAN"), false);
        settings().writeString(QStringLiteral("ST"), QStringLiteral("2,5"));
        settings().writeString(QStringLiteral("KP"), QStringLiteral("0,9"));
        openWindow(group("A", {1, 2, 3, 4}));
        QVERIFY(f().RadioButton2->isChecked());
        QVERIFY(!f().singleChoice());
        QVERIFY(f().CheckBox1->isChecked());
        QVERIFY(f().Edit1->isEnabled());
        QVERIFY(!f().Edit2->isEnabled());
        QVERIFY(!f().StaticText2->isEnabled());
        QCOMPARE(f().Edit1->text(), QStringLiteral("2,5"));
        QCOMPARE(f().Edit2->text(), QStringLiteral("0,9"));
        // The manual box belongs to the mode: section mode has its own.
        f().RadioButton1->click();
        QVERIFY(!f().CheckBox1->isChecked());
        QVERIFY(!f().Edit1->isEnabled());
        QCOMPARE(settings().readBool(QStringLiteral("ST_MAN")), true);
        f().CheckBox1->click();
        QCOMPARE(settings().readBool(QStringLiteral("KP_MAN")), true);
        QVERIFY(f().Edit1->isEnabled() && f().Edit2->isEnabled());
    }

    // Values this window cannot use (typed wrong, damaged, of another kind)
    // are said once and replaced by the defaults; the next opening is quiet.
    void damagedSettingsAreReplacedOnce()
    {
        settings().writeString(QStringLiteral("KP"), QStringLiteral("abc"));
        settings().writeString(QStringLiteral("ST"), QStringLiteral("250"));
        settings().writeString(QStringLiteral("V_MODE"), QStringLiteral("1"));
        settings().writeString(QStringLiteral("KP_MAN"), QStringLiteral("1"));
        openWindow(group("A", {1, 2, 3, 4}));
        QCOMPARE(dialogs_->messages.size(), size_t(2));
        QVERIFY(dialogs_->messages[0].text.contains(QStringLiteral("«KP» («abc»)")));
        QVERIFY(dialogs_->messages[1].text.contains(QStringLiteral("«ST» («250»)")));
        QCOMPARE(f().Edit2->text(), QStringLiteral("0,7"));
        QCOMPARE(f().Edit1->text(), QStringLiteral("0,00"));
        QVERIFY(f().RadioButton1->isChecked());
        QVERIFY(!f().CheckBox1->isChecked());
        QCOMPARE(settings().kind(QStringLiteral("V_MODE")), SettingsKey::Kind::Bool);
        QCOMPARE(settings().kind(QStringLiteral("KP_MAN")), SettingsKey::Kind::Bool);
        QCOMPARE(settings().readString(QStringLiteral("KP")), QStringLiteral("0,7"));
        f().StaticText7->setText(QStringLiteral("12,3"));
        f().hide();
        dialogs_->messages.clear();
        f().show();
        QCoreApplication::processEvents();
        QVERIFY(dialogs_->messages.empty());
        // No result of an earlier opening stays on show.
        QCOMPARE(results(), QStringLiteral("=|="));
    }

    void groupsOfMoreThanThreeAreOffered()
    {
        // A: three records; B: one operative and three individual ones; C:
        // four individual records only (not under the operative tab); D: four.
        openWindow(group("A", {1, 2, 3}) + group("B", {1}) + group("B", {2, 3, 4}, 1) + group("C", {1, 2, 3, 4}, 1) +
                   group("D", {1, 2, 3, 4}) + group("", {5, 6, 7, 8}));
        QCOMPARE(listed(), QStringList({"B", "D"}));
        QVERIFY(!f().Button1->isEnabled());
        verifyTableAsBefore();
        // Every opening builds the list anew.
        f().hide();
        table_->close();
        writeTable(path_, group("A", {1, 2, 3, 4}));
        openUnder(*table_, path_, QStringLiteral("MODE=0"));
        f().show();
        QCOMPARE(listed(), QStringList({"A"}));
    }

    void noGroupOfFour()
    {
        openWindow(group("A", {1, 2, 3}) + group("B", {1, 2}));
        QCOMPARE(f().CheckListBox1->count(), 0);
        QVERIFY(!f().Button1->isEnabled());
        f().Button1->click();
        QCOMPARE(results(), QStringLiteral("=|="));
        verifyTableAsBefore();
    }

    void sectionAllowsOneGroup()
    {
        openWindow(group("A", {1, 2, 3, 4}) + group("B", {1, 2, 3, 4}) + group("C", {1, 2, 3, 4}));
        toggle("B");
        QCOMPARE(enabled(), QStringList({"B"}));
        QVERIFY(f().locked());
        QVERIFY(f().Button1->isEnabled());
        toggle("B");
        QCOMPARE(enabled(), QStringList({"A", "B", "C"}));
        QVERIFY(!f().locked());
        QVERIFY(!f().Button1->isEnabled());
        toggle("C");
        QCOMPARE(enabled(), QStringList({"C"}));
        QCOMPARE(f().checkedLetters(), QStringList({"C"}));
    }

    void constructionNeedsFourGroups()
    {
        settings().writeBool(QStringLiteral("V_MODE"), false);
        std::vector<Row> rows;
        for (const char* g : {"A", "B", "C", "D", "E"})
            rows = rows + group(QString::fromLatin1(g), {1, 2, 3, 4});
        openWindow(rows);
        QVERIFY(!f().singleChoice());
        toggle("A");
        toggle("C");
        toggle("E");
        QCOMPARE(enabled().size(), 5);
        QVERIFY(!f().Button1->isEnabled());
        toggle("B");
        QVERIFY(f().Button1->isEnabled());
        toggle("A");
        QVERIFY(!f().Button1->isEnabled());
    }

    void switchingModeUnchecksEverything()
    {
        settings().writeBool(QStringLiteral("V_MODE"), false);
        std::vector<Row> rows;
        for (const char* g : {"A", "B", "C", "D"})
            rows = rows + group(QString::fromLatin1(g), {1, 2, 3, 4});
        openWindow(rows);
        for (const char* g : {"A", "B", "C", "D"})
            toggle(QString::fromLatin1(g));
        QVERIFY(f().Button1->isEnabled());
        f().RadioButton1->click();
        QVERIFY(f().singleChoice());
        QVERIFY(f().checkedLetters().isEmpty());
        QCOMPARE(enabled().size(), 4);
        QVERIFY(!f().Button1->isEnabled());
        toggle("B");
        QVERIFY(f().Button1->isEnabled());
        f().RadioButton2->click();
        QVERIFY(!f().singleChoice());
        QVERIFY(!f().locked());
        QVERIFY(f().checkedLetters().isEmpty());
        QCOMPARE(enabled().size(), 4);
        QVERIFY(!f().Button1->isEnabled());
    }

    void typedPointBecomesComma()
    {
        settings().writeBool(QStringLiteral("KP_MAN"), true);
        openWindow(group("A", {1, 2, 3, 4}));
        QVERIFY(f().Edit1->isEnabled());
        f().Edit1->clear();
        QTest::keyClicks(f().Edit1, QStringLiteral("12.5"));
        QCOMPARE(f().Edit1->text(), QStringLiteral("12,5"));
        f().Edit2->clear();
        QTest::keyClicks(f().Edit2, QStringLiteral("0.75"));
        QCOMPARE(f().Edit2->text(), QStringLiteral("0,75"));
    }

    void enterChecksStFromEitherBox()
    {
        settings().writeBool(QStringLiteral("KP_MAN"), true);
        openWindow(group("A", {1, 2, 3, 4}));
        f().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f()));
        f().Edit1->setText(QStringLiteral("abc"));
        f().Edit2->setText(QStringLiteral("0,5"));
        f().Edit2->setFocus();
        QTest::keyClick(f().Edit2, Qt::Key_Return);
        // Sт is checked first and fails: the focus stays, r is not checked.
        QCOMPARE(messages(), QStringList({FormatMsg}));
        QVERIFY(!f().st_accepted);
        QVERIFY(f().Edit2->hasFocus());
        QCoreApplication::processEvents();
        QCOMPARE(messages().size(), 1);

        f().Edit1->setText(QStringLiteral("1,5"));
        QTest::keyClick(f().Edit2, Qt::Key_Return);
        QVERIFY(f().st_accepted);
        QCOMPARE(f().ST, 1.5);
        // Sт passed: the focus leaves the r box, which then checks r and
        // keeps the focus.
        QTRY_COMPARE(messages(), QStringList({FormatMsg, KpMsg}));
        QVERIFY(f().Edit2->hasFocus());

        // Leaving the Sт box with a bad value keeps the focus there, without
        // checking the box the focus was going to.
        f().Edit2->setText(QStringLiteral("0,8"));
        f().Edit1->setFocus();
        QCoreApplication::processEvents();
        f().Edit1->setText(QStringLiteral("-1"));
        f().Edit2->setText(QStringLiteral("0,1"));
        f().Edit2->setFocus();
        QTRY_COMPARE(messages().size(), 3);
        QCOMPARE(messages().last(), StMsg);
        QVERIFY(f().Edit1->hasFocus());
        QCoreApplication::processEvents();
        QCOMPARE(messages().size(), 3);
        // Enter in the Sт box with a good value moves on to the group box,
        // where the arrow keys change neither the mode nor the marks.
        toggle("A");
        QVERIFY(f().Button1->isEnabled());
        f().Edit1->setText(QStringLiteral("2"));
        QTest::keyClick(f().Edit1, Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), f().GroupBox1);
        QCoreApplication::processEvents();
        QCOMPARE(messages().size(), 3);
        for (Qt::Key k : {Qt::Key_Down, Qt::Key_Right, Qt::Key_Up, Qt::Key_Left})
            QTest::keyClick(QApplication::focusWidget(), k);
        QVERIFY(f().RadioButton1->isChecked());
        QCOMPARE(f().CheckListBox1->findItems(QStringLiteral("A"), Qt::MatchExactly).first()->checkState(), Qt::Checked);
        QVERIFY(f().Button1->isEnabled());
    }

    void checkingAGroupCopiesItsSt()
    {
        settings().writeBool(QStringLiteral("KP_MAN"), true);
        openWindow(group("A", {1, 2, 3, 4}, 0, 2.5) + group("B", {1, 2, 3, 4}, 0, 0));
        QTest::keyClicks(f().Edit1, QStringLiteral("7"));
        toggle("A");
        QCOMPARE(f().Edit1->text(), QStringLiteral("2,5"));
        toggle("A");
        f().Edit1->setText(QStringLiteral("7"));
        toggle("B");
        QCOMPARE(f().Edit1->text(), QStringLiteral("0"));
        verifyTableAsBefore();
    }

    void differingDependenciesCloseTheWindow()
    {
        openWindow(group("A", {1, 2, 3}) + group("A", {4}, 0, 0, QStringLiteral("2")) + group("B", {1, 2, 3, 4}) +
                       group("C", {1, 2, 3}),
                   QStringLiteral("MODE=0"), false);
        // The window closes once the opening is over, not during it.
        QVERIFY(f().isVisible());
        // B agrees within itself but comes after the mismatch: refused too.
        QCOMPARE(messages(), QStringList({MismatchMsg, MismatchMsg}));
        QCOMPARE(f().CheckListBox1->count(), 0);
        f().Edit1->setText(QStringLiteral("3,5"));
        QTRY_VERIFY(!f().isVisible());
        // Stored on hiding as usual.
        QCOMPARE(settings().readString(QStringLiteral("ST")), QStringLiteral("3,5"));
        verifyTableAsBefore();
        // Every opening examines the groups again.
        f().show();
        QCOMPARE(listed(), QStringList());
        QCOMPARE(messages().size(), 4);
        QTRY_VERIFY(!f().isVisible());
    }

    // A real modal run ends by itself after the message.
    void mismatchEndsAModalRun()
    {
        writeTable(path_, group("A", {1, 2, 3}) + group("A", {4}, 0, 0, QStringLiteral("2")) +
                              group("B", {1, 2, 3, 4}));
        table_ = std::make_unique<dbf::Table>();
        openUnder(*table_, path_, QStringLiteral("MODE=0"));
        form_ = std::make_unique<TForm3>(*table_, *settings_);
        bool stuck = false;
        QTimer::singleShot(5000, form_.get(), [&] {
            stuck = true;
            form_->reject();
        });
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(form_->exec(), int(QDialog::Rejected));
        QVERIFY(!stuck);
        QVERIFY(clock.elapsed() < 4000);
        QCOMPARE(messages(), QStringList({MismatchMsg, MismatchMsg}));
    }

    void mismatchAfterAGoodGroup()
    {
        // C: three records are not examined, whatever their dependencies.
        openWindow(group("A", {1, 2, 3, 4}) + group("C", {1, 2}, 0, 0, QStringLiteral("y")) + group("C", {3}) +
                   group("B", {1, 2, 3}, 0, 0, QStringLiteral("x")) + group("B", {4}));
        QCOMPARE(messages(), QStringList({MismatchMsg}));
        QCOMPARE(listed(), QStringList({"A"}));
        QTRY_VERIFY(!f().isVisible());
    }

    void workedExamples()
    {
        openWindow(group("A", {20, 22, 24, 26}));
        toggle("A");
        f().Button1->click();
        QCOMPARE(results(), QStringLiteral("=3,27 МПа|=14,2%"));
        // The r box is ignored without manual entry.
        f().Edit2->setText(QStringLiteral("5"));
        f().Button1->click();
        QCOMPARE(results(), QStringLiteral("=3,27 МПа|=14,2%"));

        f().CheckBox1->click();
        f().Edit2->setText(QStringLiteral("0,8"));
        f().Edit1->setText(QStringLiteral("1,2"));
        f().Button1->click();
        QCOMPARE(results(), QStringLiteral("=3,47 МПа|=15,1%"));
        QVERIFY(messages().isEmpty());
        verifyTableAsBefore();

        // A new selection clears the results.
        toggle("A");
        QCOMPARE(results(), QStringLiteral("=|="));
    }

    void constructionExample()
    {
        settings().writeBool(QStringLiteral("V_MODE"), false);
        settings().writeBool(QStringLiteral("ST_MAN"), true);
        openWindow(group("A", {19, 21, 20, 20}) + group("B", {22, 22, 22, 22}) + group("C", {23, 25, 24, 24, 24, 24}) +
                   group("D", {26, 25, 27, 26, 26}));
        for (const char* g : {"A", "B", "C", "D"})
            toggle(QString::fromLatin1(g));
        f().Edit1->setText(QStringLiteral("1,5"));
        f().Button1->click();
        QCOMPARE(results(), QStringLiteral("=2,67 МПа|=11,6%"));
        QCOMPARE(results(), constructionTexts({{19, 21, 20, 20}, {22, 22, 22, 22}, {23, 25, 24, 24, 24, 24},
                                               {26, 25, 27, 26, 26}}, 1.5));
        verifyTableAsBefore();
    }

    void constructionDivisorFollowsTheLastLetter()
    {
        settings().writeBool(QStringLiteral("V_MODE"), false);
        settings().writeBool(QStringLiteral("ST_MAN"), true);
        const std::vector<double> a{10, 12, 11, 13}, b{14, 15, 16, 15}, c{9, 9, 10, 10}, d{12, 12, 13, 13, 12},
            e{16, 17, 18, 15, 16, 17, 18, 16};
        // E is written first: list order, not file order, decides.
        openWindow(group("E", e) + group("A", a) + group("B", b) + group("C", c) + group("D", d));
        QCOMPARE(listed(), QStringList({"A", "B", "C", "D", "E"}));
        for (const char* g : {"A", "B", "C", "D"})
            toggle(QString::fromLatin1(g));
        f().Edit1->setText(QStringLiteral("6"));
        f().Button1->click();
        const QString four = results();
        QCOMPARE(four, constructionTexts({a, b, c, d}, 6));
        toggle("E");
        f().Edit1->setText(QStringLiteral("6"));
        f().Button1->click();
        QCOMPARE(results(), constructionTexts({a, b, c, d, e}, 6));
        toggle("D");
        f().Edit1->setText(QStringLiteral("6"));
        f().Button1->click();
        QCOMPARE(results(), constructionTexts({a, b, c, e}, 6));
        verifyTableAsBefore();
    }

    void recordsOfOtherModesTakePart()
    {
        openWindow(group("A", {20, 22, 24, 26}) + group("A", {30}, 1) + group("A", {18}, 2));
        toggle("A");
        f().Button1->click();
        QCOMPARE(results(), sectionTexts({20, 22, 24, 26, 30, 18}, 0, 0.7));
        verifyTableAsBefore();
    }

    void stFromRecordsUnderTheIndividualTab()
    {
        openWindow(group("A", {20, 22, 24, 26}, 1, 2), QStringLiteral("MODE=1"));
        toggle("A");
        QCOMPARE(f().Edit1->text(), QStringLiteral("2"));
        f().Edit1->setText(QStringLiteral("junk"));  // replaced from the record again
        f().Button1->click();
        QCOMPARE(f().Edit1->text(), QStringLiteral("2"));
        QCOMPARE(results(), sectionTexts({20, 22, 24, 26}, 2, 0.7));
        QVERIFY(messages().isEmpty());
        verifyTableAsBefore(QStringLiteral("MODE=1"));
    }

    void zeroMeanShowsNoVariation()
    {
        std::vector<Row> rows;
        for (int i = 0; i < 4; ++i)
            rows.push_back({0, QStringLiteral("A"), std::nullopt, 0, QStringLiteral("1")});
        openWindow(rows + group("B", {0, 0, 0, 0}));
        toggle("A");
        f().Button1->click();
        QCOMPARE(results(), QStringLiteral("=0,00 МПа|="));
        toggle("A");
        toggle("B");
        f().Button1->click();
        QCOMPARE(results(), QStringLiteral("=0,00 МПа|="));
    }

    void manualInputErrorsStopTheComputation()
    {
        settings().writeBool(QStringLiteral("KP_MAN"), true);
        openWindow(group("A", {20, 22, 24, 26}));
        toggle("A");
        f().Edit2->setText(QStringLiteral("0,68"));
        f().Button1->click();
        QCOMPARE(messages(), QStringList({KpMsg}));
        QCOMPARE(results(), QStringLiteral("=|="));
        f().Edit2->setText(QStringLiteral("0,69"));
        f().Edit1->setText(QStringLiteral("100,01"));
        f().Button1->click();
        QCOMPARE(messages(), QStringList({KpMsg, StMsg}));
        QCOMPARE(results(), QStringLiteral("=|="));
        f().Edit1->setText(QStringLiteral("abc"));
        f().Button1->click();
        QCOMPARE(messages().last(), FormatMsg);
        QCOMPARE(results(), QStringLiteral("=|="));
        verifyTableAsBefore();
        f().Edit1->setText(QStringLiteral("100"));
        f().Button1->click();
        QCOMPARE(messages().size(), 3);
        QCOMPARE(results(), sectionTexts({20, 22, 24, 26}, 100, 0.69));
        verifyTableAsBefore();
    }

    // Through the main window: the menu command runs the window by the dialog
    // seam, and the operative grid shows the same records afterwards.
    void menuCommandAndGrid()
    {
        writeTable(path_, group("A", {20, 22, 24, 26}) + group("B", {1, 2, 3, 4}, 1));
        SettingsKey settings(dir_->filePath(QStringLiteral("cfg/ORL.reg")));
        TForm1 main(settings);
        TForm3 form3(main.Dbf1, settings, &main);
        main.setSvWindow(&form3);
        main.show();
        QVERIFY(main.Open_DB(path_));
        QVERIFY(TForm1::commandEnabled(main.SV1));
        QCOMPARE(main.Dbf1.filter(), QStringLiteral("MODE=0"));
        QAbstractItemModel* model = main.DBGridPro1->model();
        const int rows = model->rowCount();
        auto firstColumn = [&] {
            QStringList out;
            for (int r = 0; r < model->rowCount(); ++r)
                out << model->data(model->index(r, 0)).toString();
            return out;
        };
        const QStringList shown = firstColumn();
        QCOMPARE(rows, 4);

        QString result;
        dialogs_->onExec = [&](QDialog& d) {
            auto& w = static_cast<TForm3&>(d);
            w.show();
            w.CheckListBox1->item(0)->setCheckState(Qt::Checked);
            w.Button1->click();
            result = w.StaticText7->text() + QLatin1Char('|') + w.StaticText8->text();
            w.hide();
        };
        main.SV1->trigger();
        QCOMPARE(dialogs_->execLog, QStringList({"TForm3"}));
        QCOMPARE(result, QStringLiteral("=3,27 МПа|=14,2%"));
        QCOMPARE(main.Dbf1.filter(), QStringLiteral("MODE=0"));
        QCOMPARE(model->rowCount(), rows);
        QCOMPARE(main.Dbf1.recordCount(), rows);
        QCOMPARE(firstColumn(), shown);
        main.Close_DB();
    }

    // Each control is found under the window by its member's name, once.
    void componentsCarryTheirNames()
    {
        dbf::Table table;
        TForm3 w(table, *settings_);
        QCOMPARE(w.objectName(), QStringLiteral("TForm3"));
        verifyObjectNames(w, {{w.GroupBox1, "GroupBox1"}, {w.RadioButton1, "RadioButton1"},
                              {w.RadioButton2, "RadioButton2"}, {w.CheckListBox1, "CheckListBox1"},
                              {w.GroupBox2, "GroupBox2"}, {w.StaticText2, "StaticText2"}, {w.Edit2, "Edit2"},
                              {w.StaticText1, "StaticText1"}, {w.Edit1, "Edit1"}, {w.CheckBox1, "CheckBox1"},
                              {w.GroupBox3, "GroupBox3"}, {w.StaticText3, "StaticText3"},
                              {w.StaticText6, "StaticText6"}, {w.StaticText7, "StaticText7"},
                              {w.StaticText4, "StaticText4"}, {w.StaticText5, "StaticText5"},
                              {w.StaticText8, "StaticText8"}, {w.Button1, "Button1"}});
    }
};

QTEST_MAIN(SvWindowTest)
#include "test_sv_window.moc"
