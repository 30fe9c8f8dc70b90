#include "stats/sv_window.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>

#include "ground/dialogs.h"
#include "ground/object_names.h"
#include "ground/settings_key.h"
#include "stats/sv_stats.h"
#include "store/dbf.h"

namespace {

const QString Caption = QStringLiteral("Дополнение");
const QString OperativeFilter = QStringLiteral("MODE=0");

constexpr int ClientWidth = 457;
constexpr int ClientHeight = 299;

}  // namespace

TForm3::TForm3(dbf::Table& table, SettingsKey& settings, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      table_(table),
      settings_(settings)
{
    setWindowTitle(QStringLiteral("Расчет Sm и Vm"));
    setFixedSize(ClientWidth, ClientHeight);
    setModal(true);
    buildControls();
}

void TForm3::buildControls()
{
    QFont big = font();
    big.setPixelSize(18);
    big.setBold(true);
    QFont sub = big;
    sub.setPixelSize(12);

    GroupBox1 = new QGroupBox(QStringLiteral("Исходные данные "), this);
    GroupBox1->setGeometry(8, 6, 205, 287);
    RadioButton1 = new QRadioButton(QStringLiteral("Участок"), GroupBox1);
    RadioButton1->setGeometry(12, 24, 180, 22);
    RadioButton2 = new QRadioButton(QStringLiteral("Конструкция"), GroupBox1);
    RadioButton2->setGeometry(12, 48, 180, 22);
    CheckListBox1 = new QListWidget(GroupBox1);
    CheckListBox1->setGeometry(12, 76, 181, 199);
    CheckListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    // Enter in a text box hands the focus to the group box itself; without
    // a focus policy of its own it would pass it on to «Участок», and the
    // next arrow key would switch the mode.  (Set after its children: adding
    // a child to a group box resets its policy.)
    GroupBox1->setFocusPolicy(Qt::ClickFocus);

    GroupBox2 = new QGroupBox(QStringLiteral("r && Sт"), this);
    GroupBox2->setGeometry(221, 6, 228, 118);
    StaticText2 = new QLabel(QStringLiteral("r"), GroupBox2);
    StaticText2->setGeometry(12, 26, 86, 24);
    Edit2 = new QLineEdit(GroupBox2);
    Edit2->setGeometry(104, 26, 112, 24);
    StaticText1 = new QLabel(QStringLiteral("Sт, МПа"), GroupBox2);
    StaticText1->setGeometry(12, 56, 86, 24);
    Edit1 = new QLineEdit(GroupBox2);
    Edit1->setGeometry(104, 56, 112, 24);
    CheckBox1 = new QCheckBox(QStringLiteral("Задать в ручную"), GroupBox2);
    CheckBox1->setGeometry(12, 88, 204, 22);

    GroupBox3 = new QGroupBox(QStringLiteral("S && V"), this);
    GroupBox3->setGeometry(221, 130, 228, 112);
    auto symbol = [&](const QString& text, int y, QLabel*& main, QLabel*& index, QLabel*& result) {
        main = new QLabel(text, GroupBox3);
        main->setFont(big);
        main->setGeometry(14, y, 16, 26);
        index = new QLabel(QStringLiteral("m"), GroupBox3);
        index->setFont(sub);
        index->setGeometry(28, y + 12, 14, 16);
        result = new QLabel(QStringLiteral("="), GroupBox3);
        result->setFont(big);
        result->setGeometry(44, y, 176, 26);
    };
    symbol(QStringLiteral("S"), 30, StaticText3, StaticText6, StaticText7);
    symbol(QStringLiteral("V"), 68, StaticText4, StaticText5, StaticText8);

    Button1 = new QPushButton(QStringLiteral("Расчитать"), this);
    Button1->setGeometry(275, 254, 120, 32);
    // Enter in a text box is the box's own key (check Sт), never this button;
    // and a click on it runs the checks itself, so it takes no focus from a box.
    Button1->setAutoDefault(false);
    Button1->setFocusPolicy(Qt::TabFocus);
    setObjectNames({{this, "TForm3"},
                    {GroupBox1, "GroupBox1"}, {RadioButton1, "RadioButton1"}, {RadioButton2, "RadioButton2"},
                    {CheckListBox1, "CheckListBox1"},
                    {GroupBox2, "GroupBox2"}, {StaticText2, "StaticText2"}, {Edit2, "Edit2"},
                    {StaticText1, "StaticText1"}, {Edit1, "Edit1"}, {CheckBox1, "CheckBox1"},
                    {GroupBox3, "GroupBox3"}, {StaticText3, "StaticText3"}, {StaticText6, "StaticText6"},
                    {StaticText7, "StaticText7"}, {StaticText4, "StaticText4"}, {StaticText5, "StaticText5"},
                    {StaticText8, "StaticText8"}, {Button1, "Button1"}});

    connect(RadioButton1, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            RadioButton1Click();
    });
    connect(RadioButton2, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            RadioButton2Click();
    });
    connect(CheckBox1, &QCheckBox::toggled, this, [this] { CheckBox1Click(); });
    connect(CheckListBox1, &QListWidget::itemChanged, this, [this] {
        if (!filling_list_)
            CheckListBox1ClickCheck();
    });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    Edit1->installEventFilter(this);
    Edit2->installEventFilter(this);
}

// ---------------------------------------------------------------------------
// showing and hiding

void TForm3::setVisible(bool visible)
{
    // Centred on the desktop, not over the main window.
    if (visible && !isVisible()) {
        if (QScreen* s = QGuiApplication::primaryScreen()) {
            const QRect r = s->availableGeometry();
            move(r.center() - QPoint(width() / 2, height() / 2));
        }
    }
    QDialog::setVisible(visible);
}

void TForm3::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    if (!e->spontaneous())
        FormShow();
}

void TForm3::hideEvent(QHideEvent* e)
{
    if (!e->spontaneous())
        FormHide();
    QDialog::hideEvent(e);
}

QString TForm3::settingString(const QString& name, const QString& fallback,
                              const std::function<bool(const QString&)>& usable)
{
    const SettingsKey::Kind kind = settings_.kind(name);
    if (kind == SettingsKey::Kind::Missing) {
        settings_.writeString(name, fallback);
        return fallback;
    }
    const QString kept = kind == SettingsKey::Kind::String ? settings_.readString(name) : QString();
    if (kind == SettingsKey::Kind::String && (!usable || usable(kept)))
        return kept;
    // A value this window cannot use (damaged, of another kind, from another
    // program) would refuse every computation from now on: it is said once
    // and replaced by the default.
    settings_.writeString(name, fallback);
    ui::dialogs().message(this,
                          QStringLiteral("Сохранённое значение «%1» (%2) не подходит; взято значение по умолчанию %3.")
                              .arg(name,
                                   kind == SettingsKey::Kind::String ? QStringLiteral("«%1»").arg(kept)
                                                                     : QStringLiteral("не строка"),
                                   QStringLiteral("«%1»").arg(fallback)),
                          Caption, ui::Icon::Warning, ui::Buttons::Ok);
    return fallback;
}

bool TForm3::settingBool(const QString& name, bool fallback)
{
    // A value of another kind (a string "1", say) counts as missing.
    if (settings_.kind(name) != SettingsKey::Kind::Bool) {
        settings_.writeBool(name, fallback);
        return fallback;
    }
    return settings_.readBool(name);
}

void TForm3::showInputError(const QString& text)
{
    ui::dialogs().message(this, text, Caption, ui::Icon::Error, ui::Buttons::Ok);
}

void TForm3::FormShow()
{
    saved_filter_ = stats::SavedFilter::of(table_);
    Button1->setEnabled(false);
    // Results of the last opening belong to groups no longer checked, maybe
    // of another database.
    StaticText7->setText(QStringLiteral("="));
    StaticText8->setText(QStringLiteral("="));
    kp_accepted = false;
    st_accepted = false;

    if (settingBool(QStringLiteral("V_MODE"), true))
        RadioButton1->setChecked(true);
    else
        RadioButton2->setChecked(true);
    set_up();

    filling_list_ = true;
    CheckListBox1->clear();
    filling_list_ = false;
    lock_ = false;
    koeff_vis();

    // One flag for the whole scan: once a group has shown differing
    // dependencies, every later group of more than three records is refused
    // as well.
    bool mismatch = false;
    bool closeRequested = false;
    if (table_.isOpen()) {
        // The groups are examined first and the messages shown after, so that
        // the main window never repaints while a group filter stands.
        const std::vector<stats::GroupInfo> groups = stats::scanGroups(table_, saved_filter_);
        for (const stats::GroupInfo& g : groups) {
            if (g.count <= 3)
                continue;
            if (!g.sameArticle)
                mismatch = true;
            if (mismatch) {
                showInputError(QStringLiteral("Измерения проведены с разными индивидуальными зависимостями"));
                closeRequested = true;
            } else {
                filling_list_ = true;
                auto* item = new QListWidgetItem(QString(g.letter), CheckListBox1);
                item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
                item->setCheckState(Qt::Unchecked);
                filling_list_ = false;
            }
        }
        table_.first();
    }
    // Closing from inside the showing would leave the modal loop running
    // without a window; the request is carried out once the opening is over.
    if (closeRequested)
        QTimer::singleShot(0, this, [this] {
            if (isVisible())
                reject();
        });
}

void TForm3::set_up()
{
    Edit2->setText(settingString(QStringLiteral("KP"), QStringLiteral("0,7"),
                                 [](const QString& t) { return stats::check_kp(true, t, 0).accepted; }));
    Edit1->setText(settingString(QStringLiteral("ST"), QStringLiteral("0,00"),
                                 [](const QString& t) { return stats::check_st(true, false, t, 0).accepted; }));
    CheckBox1->setChecked(settingBool(sectionMode() ? QStringLiteral("KP_MAN") : QStringLiteral("ST_MAN"), false));
}

void TForm3::FormHide()
{
    settings_.writeBool(QStringLiteral("V_MODE"), RadioButton1->isChecked());
    settings_.writeString(QStringLiteral("ST"), Edit1->text());
    settings_.writeString(QStringLiteral("KP"), Edit2->text());
}

// ---------------------------------------------------------------------------
// mode and inputs

bool TForm3::sectionMode() const { return RadioButton1->isChecked(); }

void TForm3::koeff_vis()
{
    const bool manual = CheckBox1->isChecked();
    const bool section = sectionMode();
    Edit2->setEnabled(section && manual);
    StaticText2->setEnabled(section);
    Edit1->setEnabled(manual);
    StaticText1->setEnabled(true);
}

void TForm3::RadioButton1Click()
{
    if (!single_choice_) {
        single_choice_ = true;
        cl_check();
        lock_ = false;
    }
    koeff_vis();
    CheckBox1->setChecked(settingBool(QStringLiteral("KP_MAN"), false));
}

void TForm3::RadioButton2Click()
{
    if (single_choice_) {
        single_choice_ = false;
        cl_check();
        lock_ = false;
    }
    koeff_vis();
    if (RadioButton2->isChecked())
        CheckBox1->setChecked(settingBool(QStringLiteral("ST_MAN"), false));
}

void TForm3::setAllItemsEnabled(bool on)
{
    filling_list_ = true;
    for (int i = 0; i < CheckListBox1->count(); ++i) {
        QListWidgetItem* item = CheckListBox1->item(i);
        item->setFlags(on ? item->flags() | Qt::ItemIsEnabled : item->flags() & ~Qt::ItemIsEnabled);
    }
    filling_list_ = false;
}

void TForm3::cl_check()
{
    setAllItemsEnabled(true);
    filling_list_ = true;
    for (int i = 0; i < CheckListBox1->count(); ++i)
        CheckListBox1->item(i)->setCheckState(Qt::Unchecked);
    filling_list_ = false;
    CheckListBox1->viewport()->update();
    Button1->setEnabled(false);
}

void TForm3::CheckBox1Click()
{
    const bool on = CheckBox1->isChecked();
    if (sectionMode()) {
        Edit2->setEnabled(on);
        Edit1->setEnabled(on);
        settings_.writeBool(QStringLiteral("KP_MAN"), on);
    } else {
        Edit1->setEnabled(on);
        settings_.writeBool(QStringLiteral("ST_MAN"), on);
    }
}

QStringList TForm3::checkedLetters() const
{
    QStringList out;
    for (int i = 0; i < CheckListBox1->count(); ++i)
        if (CheckListBox1->item(i)->checkState() == Qt::Checked)
            out << CheckListBox1->item(i)->text();
    return out;
}

void TForm3::CheckListBox1ClickCheck()
{
    StaticText7->setText(QStringLiteral("="));
    StaticText8->setText(QStringLiteral("="));

    if (single_choice_) {
        if (lock_) {
            setAllItemsEnabled(true);
            lock_ = false;
        } else {
            filling_list_ = true;
            for (int i = 0; i < CheckListBox1->count(); ++i) {
                QListWidgetItem* item = CheckListBox1->item(i);
                if (item->checkState() != Qt::Checked)
                    item->setFlags(item->flags() & ~Qt::ItemIsEnabled);
            }
            filling_list_ = false;
            lock_ = true;
        }
    }

    Button1->setEnabled(false);
    // The Sт box follows the selection, typed value or not.
    const QStringList letters = checkedLetters();
    for (const QString& letter : letters)
        if (const auto st = stats::firstGroupSt(table_, letter.at(0)))
            Edit1->setText(stats::decimalText(*st));

    const int checked = int(letters.size());
    Button1->setEnabled((sectionMode() && checked >= 1) || (!sectionMode() && checked >= 4));
}

bool TForm3::Edit1KeyPress(QLineEdit* sender, QKeyEvent* key)
{
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        // Sт is checked whichever box the key was typed in; leaving the box
        // then checks that box.
        check_st();
        if (st_accepted)
            GroupBox1->setFocus();
        return true;
    }
    if (key->text() == QLatin1String(".")) {
        sender->insert(QStringLiteral(","));
        return true;
    }
    return false;
}

void TForm3::returnFocus(QLineEdit* box)
{
    returning_focus_ = true;
    box->setFocus();
    returning_focus_ = false;
}

void TForm3::Edit1Exit()
{
    check_st();
    if (!st_accepted)
        returnFocus(Edit1);
}

void TForm3::Edit2Exit()
{
    check_kp();
    if (!kp_accepted)
        returnFocus(Edit2);
}

bool TForm3::eventFilter(QObject* watched, QEvent* e)
{
    auto* box = qobject_cast<QLineEdit*>(watched);
    if (box && (box == Edit1 || box == Edit2)) {
        if (e->type() == QEvent::KeyPress)
            return Edit1KeyPress(box, static_cast<QKeyEvent*>(e));
        if (e->type() == QEvent::FocusOut) {
            const auto reason = static_cast<QFocusEvent*>(e)->reason();
            // Only a move of the focus inside this window leaves a box; a
            // message box or another window taking the focus does not.
            if (!returning_focus_ && reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
                // After the focus change is complete, so that a message box
                // never opens in the middle of it.
                QTimer::singleShot(0, this, [this, box] {
                    if (!isVisible())
                        return;
                    if (box == Edit1)
                        Edit1Exit();
                    else
                        Edit2Exit();
                });
            }
        }
    }
    return QDialog::eventFilter(watched, e);
}

// ---------------------------------------------------------------------------
// checks and computations

void TForm3::check_kp()
{
    kp_accepted = false;
    const stats::Check c = stats::check_kp(CheckBox1->isChecked(), Edit2->text(), KP);
    KP = c.value;
    kp_accepted = c.accepted;
    if (!c.message.isEmpty())
        showInputError(c.message);
}

void TForm3::check_st()
{
    st_accepted = false;
    const bool manual = CheckBox1->isChecked();
    const bool operative = saved_filter_.text == OperativeFilter;
    if (!manual && !operative) {
        // The Sт of the checked groups' records, the last checked one staying.
        for (const QString& letter : checkedLetters())
            if (const auto st = stats::firstGroupSt(table_, letter.at(0)))
                Edit1->setText(stats::decimalText(*st));
    }
    const stats::Check c = stats::check_st(manual, operative, Edit1->text(), ST);
    ST = c.value;
    st_accepted = c.accepted;
    if (!c.message.isEmpty())
        showInputError(c.message);
}

void TForm3::calc_uch()
{
    check_kp();
    if (!kp_accepted) {
        returnFocus(Edit2);
        return;
    }
    check_st();
    if (!st_accepted) {
        returnFocus(Edit1);
        return;
    }
    const QStringList letters = checkedLetters();
    if (letters.isEmpty() || !table_.isOpen())
        return;
    const std::vector<double> values = stats::groupValues(table_, saved_filter_, letters.back().at(0));
    const stats::Result r = stats::calc_uch(values, ST, KP);
    StaticText7->setText(stats::smText(r.sm));
    StaticText8->setText(stats::vmText(r.vm));
}

void TForm3::calc_const()
{
    check_st();
    if (!st_accepted) {
        returnFocus(Edit1);
        return;
    }
    const QStringList letters = checkedLetters();
    if (letters.isEmpty() || !table_.isOpen())
        return;
    std::vector<std::vector<double>> groups;
    for (const QString& letter : letters)
        groups.push_back(stats::groupValues(table_, saved_filter_, letter.at(0)));
    const stats::Result r = stats::calc_const(groups, ST);
    StaticText7->setText(stats::smText(r.sm));
    StaticText8->setText(stats::vmText(r.vm));
}

void TForm3::Button1Click()
{
    if (sectionMode())
        calc_uch();
    else
        calc_const();
}
