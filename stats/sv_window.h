#pragma once
// "Расчет Sm и Vm": the S and V window.  The user picks groups of records (the
// letters of the GROUP column), the mode, and the inputs r and Sт; the window
// shows Sm and Vm.  It reads the main window's table under the tab filter and
// never changes its data; every group filter it sets is followed by the tab
// filter again.

#include <QDialog>
#include <QStringList>
#include <functional>

#include "stats/group_walk.h"

class QCheckBox;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class SettingsKey;
namespace dbf {
class Table;
}

class TForm3 : public QDialog {
    Q_OBJECT
public:
    // The table and the settings key outlive the window.
    TForm3(dbf::Table& table, SettingsKey& settings, QWidget* parent = nullptr);

    // ---- components ---------------------------------------------------------
    QGroupBox* GroupBox1;       // "Исходные данные "
    QRadioButton* RadioButton1;  // "Участок"
    QRadioButton* RadioButton2;  // "Конструкция"
    QListWidget* CheckListBox1;  // one item per group letter
    QGroupBox* GroupBox2;        // "r & Sт"
    QLabel* StaticText2;         // "r"
    QLineEdit* Edit2;            // r
    QLabel* StaticText1;         // "Sт, МПа"
    QLineEdit* Edit1;            // Sт
    QCheckBox* CheckBox1;        // "Задать в ручную"
    QGroupBox* GroupBox3;        // "S & V"
    QLabel* StaticText3;         // "S"
    QLabel* StaticText6;         // subscript "m"
    QLabel* StaticText7;         // Sm result
    QLabel* StaticText4;         // "V"
    QLabel* StaticText5;         // subscript "m"
    QLabel* StaticText8;         // Vm result
    QPushButton* Button1;        // "Расчитать"

    // ---- working values (kept for the run of the program) -------------------
    double ST = 0;
    double KP = 0.7;
    bool st_accepted = false;
    bool kp_accepted = false;

    // ---- behaviour ------------------------------------------------------------
    void FormShow();
    void FormHide();
    void set_up();
    void koeff_vis();
    void RadioButton1Click();
    void RadioButton2Click();
    void cl_check();
    void CheckBox1Click();
    void CheckListBox1ClickCheck();
    // Shared by both boxes; true when the key was handled here.
    bool Edit1KeyPress(QLineEdit* sender, QKeyEvent* key);
    void Edit1Exit();
    void Edit2Exit();
    void Button1Click();

    void check_kp();
    void check_st();
    void calc_uch();
    void calc_const();

    // ---- state, for the program and its tests -------------------------------
    bool sectionMode() const;
    bool singleChoice() const { return single_choice_; }
    bool locked() const { return lock_; }
    QStringList checkedLetters() const;  // in list order
    const stats::SavedFilter& savedFilter() const { return saved_filter_; }

protected:
    void setVisible(bool visible) override;
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void buildControls();
    // The kept value, or `fallback` (then kept) when it is missing, not a
    // string or not `usable`; a kept value replaced is said once.
    QString settingString(const QString& name, const QString& fallback,
                          const std::function<bool(const QString&)>& usable = {});
    bool settingBool(const QString& name, bool fallback);
    void showInputError(const QString& text);
    // Moves the focus into a box without running the exit check of the box
    // that loses it.
    void returnFocus(QLineEdit* box);
    void setAllItemsEnabled(bool on);

    dbf::Table& table_;
    SettingsKey& settings_;
    stats::SavedFilter saved_filter_;
    bool single_choice_ = false;  // list behaviour; follows the mode
    bool lock_ = false;           // single choice: one item checked, others disabled
    bool filling_list_ = false;   // item changes made by the window itself
    bool returning_focus_ = false;
};
