#pragma once
// The download window "Передача данных".  Created once at start-up and kept
// alive; it owns the memory image and the download state for the whole run.
// exec() returns QDialog::Accepted when a download finished, Rejected on
// Cancel, on the not-found path and on a download error.

#include "device/download_session.h"
#include "device/memory_image.h"
#include "device/receiver.h"

#include <QDialog>
#include <memory>

class QCheckBox;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace device {

class TForm2 : public QDialog {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);
    ~TForm2() override;

    MemoryImage& image() { return *image_; }
    const MemoryImage& image() const { return *image_; }
    DownloadState& state() { return state_; }
    const DownloadState& state() const { return state_; }
    DownloadSession& session() { return *session_; }

    // Components, named as in the window's design.
    QLabel* StaticText2 = nullptr;   // status line
    QLabel* StaticText8 = nullptr;   // "Архив оперативный"
    QProgressBar* ProgressBar1 = nullptr;
    QLabel* StaticText9 = nullptr;   // "Архив ждущий"
    QProgressBar* ProgressBar2 = nullptr;
    QLabel* StaticText10 = nullptr;  // "Архив наблюдения"
    QProgressBar* ProgressBar3 = nullptr;
    QGroupBox* GroupBox1 = nullptr;  // "Информация"
    QLabel* StaticText4 = nullptr;   // "Тип прибора:"
    QLabel* StaticText5 = nullptr;   // device type
    QLabel* StaticText3 = nullptr;   // "Версия ПО:"
    QLabel* StaticText1 = nullptr;   // software version
    QLabel* StaticText6 = nullptr;   // "Количество записей:"
    QLabel* StaticText7 = nullptr;   // record counts
    QLabel* Label1 = nullptr;        // port being tried
    QCheckBox* CheckBox1 = nullptr;  // "Сохранить двоичный файл", hidden
    QPushButton* Button1 = nullptr;  // "Cancel"

protected:
    void showEvent(QShowEvent* event) override;   // FormShow
    void done(int result) override;               // FormClose for every way out
    void keyPressEvent(QKeyEvent* event) override;
    // The title bar's close button (offered by some window managers despite
    // the hints) acts exactly as Cancel.
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void Button1Click();
    void setText(Text which, const QString& text);
    void setProgressMaximum(int bar, int maximum);
    void setProgressPosition(int bar, int position);
    void onNotFound();
    void onFinished(Outcome outcome, const QString& error);
    QProgressBar* bar(int index) const;

    std::unique_ptr<MemoryImage> image_;
    DownloadState state_;
    std::unique_ptr<DownloadSession> session_;
    int barMax_[3] = {0, 0, 0};
};

}  // namespace device
