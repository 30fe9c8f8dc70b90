#pragma once
#include <QDialog>

// "Расчет Sm и Vm": the S and V window.  Its content comes with the
// statistics; for now it is the empty window the start-up sequence creates.
class TForm3 : public QDialog {
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent = nullptr) : QDialog(parent)
    {
        setWindowTitle(QStringLiteral("Расчет Sm и Vm"));
    }
};
