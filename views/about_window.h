#pragma once
#include <QDialog>

class QLabel;
class QPushButton;

// "О программе": the program's name, its version read from the executable's
// own version information at every showing, and one line of purpose.
class Tform6 : public QDialog {
    Q_OBJECT
public:
    explicit Tform6(QWidget* parent = nullptr);

    QLabel* StaticText1;  // "ДОРК-5"
    QLabel* StaticText3;  // "Версия ..."
    QLabel* StaticText2;  // purpose
    QPushButton* Button1;  // "Ок"

    // The file whose version is shown; the running executable by default.
    void setVersionSource(const QString& path) { versionSource_ = path; }

protected:
    void showEvent(QShowEvent* e) override;

private:
    void FormShow();
    void Button1Click();
    QString versionSource_;
};

// The splash: a 400 x 77 picture without frame, centred, closed by its timer
// 3000 ms after it is shown.
class QTimer;
class TForm4 : public QDialog {
    Q_OBJECT
public:
    explicit TForm4(QWidget* parent = nullptr);
    QLabel* Image1;
    QTimer* Timer1;

    static QImage picture();  // 400 x 78, 24-bit colour

protected:
    void showEvent(QShowEvent* e) override;

private:
    void Timer1Timer();
};
