#pragma once
#include <QDialog>

// "График": the diagram of a result's single readings.  For now the empty
// window the start-up sequence creates.
class TForm5 : public QDialog {
    Q_OBJECT
public:
    explicit TForm5(QWidget* parent = nullptr) : QDialog(parent)
    {
        setWindowTitle(QStringLiteral("График"));
    }
};
