#include "device/download_window.h"

#include "ground/dialogs.h"
#include "ground/object_names.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>
#include <algorithm>

namespace device {

TForm2::TForm2(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint),
      image_(std::make_unique<MemoryImage>())
{
    setObjectName(QStringLiteral("TForm2"));
    setWindowTitle(QStringLiteral("Передача данных"));
    setFixedSize(492, 333);

    auto* top = new QVBoxLayout(this);
    StaticText2 = new QLabel(QStringLiteral("Ожидание готовности прибора..."), this);
    QFont bold = StaticText2->font();
    bold.setBold(true);
    bold.setPixelSize(16);
    StaticText2->setFont(bold);
    StaticText2->setAlignment(Qt::AlignCenter);
    top->addWidget(StaticText2);

    auto addArchive = [&](QLabel*& label, QProgressBar*& bar, const QString& text) {
        label = new QLabel(text, this);
        bar = new QProgressBar(this);
        bar->setTextVisible(false);
        bar->setRange(0, 100);
        bar->setValue(0);
        top->addWidget(label);
        top->addWidget(bar);
    };
    addArchive(StaticText8, ProgressBar1, QStringLiteral("Архив оперативный"));
    addArchive(StaticText9, ProgressBar2, QStringLiteral("Архив ждущий"));
    addArchive(StaticText10, ProgressBar3, QStringLiteral("Архив наблюдения"));

    GroupBox1 = new QGroupBox(QStringLiteral("Информация"), this);
    auto* grid = new QGridLayout(GroupBox1);
    StaticText4 = new QLabel(QStringLiteral("Тип прибора:"), GroupBox1);
    StaticText5 = new QLabel(GroupBox1);
    StaticText3 = new QLabel(QStringLiteral("Версия ПО:"), GroupBox1);
    StaticText1 = new QLabel(GroupBox1);
    StaticText6 = new QLabel(QStringLiteral("Количество записей:"), GroupBox1);
    StaticText7 = new QLabel(GroupBox1);
    grid->addWidget(StaticText4, 0, 0);
    grid->addWidget(StaticText5, 0, 1);
    grid->addWidget(StaticText3, 1, 0);
    grid->addWidget(StaticText1, 1, 1);
    grid->addWidget(StaticText6, 2, 0);
    grid->addWidget(StaticText7, 2, 1);
    grid->setColumnStretch(1, 1);
    top->addWidget(GroupBox1);

    Label1 = new QLabel(this);
    Label1->setAlignment(Qt::AlignCenter);
    top->addWidget(Label1);

    auto* bottom = new QHBoxLayout;
    CheckBox1 = new QCheckBox(QStringLiteral("Сохранить двоичный файл"), this);
    Button1 = new QPushButton(QStringLiteral("Cancel"), this);
    Button1->setAutoDefault(false);
    bottom->addWidget(CheckBox1);
    bottom->addStretch();
    bottom->addWidget(Button1);
    top->addLayout(bottom);
    setObjectNames({{StaticText2, "StaticText2"}, {StaticText8, "StaticText8"}, {ProgressBar1, "ProgressBar1"},
                    {StaticText9, "StaticText9"}, {ProgressBar2, "ProgressBar2"}, {StaticText10, "StaticText10"},
                    {ProgressBar3, "ProgressBar3"}, {GroupBox1, "GroupBox1"}, {StaticText4, "StaticText4"},
                    {StaticText5, "StaticText5"}, {StaticText3, "StaticText3"}, {StaticText1, "StaticText1"},
                    {StaticText6, "StaticText6"}, {StaticText7, "StaticText7"}, {Label1, "Label1"},
                    {CheckBox1, "CheckBox1"}, {Button1, "Button1"}});

    session_ = std::make_unique<DownloadSession>(*image_, state_);
    connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
    connect(session_.get(), &DownloadSession::textChanged, this, &TForm2::setText);
    connect(session_.get(), &DownloadSession::progressMaximum, this, &TForm2::setProgressMaximum);
    connect(session_.get(), &DownloadSession::progressPosition, this, &TForm2::setProgressPosition);
    connect(session_.get(), &DownloadSession::portLabelChanged, this, [this](const QString& s) {
        Label1->setText(s);
        Label1->repaint();
    });
    connect(session_.get(), &DownloadSession::notFound, this, &TForm2::onNotFound);
    connect(session_.get(), &DownloadSession::finished, this, &TForm2::onFinished);
    FormCreate();
}

TForm2::~TForm2()
{
    session_->stop();
}

void TForm2::FormCreate()
{
    CheckBox1->hide();
}

void TForm2::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;  // back from minimized: not a new download
    // FormShow
    CheckBox1->setChecked(false);
    for (int b = 0; b < 3; ++b) {
        barMax_[b] = 0;
        bar(b)->setRange(0, 100);
        bar(b)->setValue(0);
    }
    StaticText8->setText(QStringLiteral("Архив оперативный"));
    StaticText9->setText(QStringLiteral("Архив ждущий"));
    StaticText10->setText(QStringLiteral("Архив наблюдения"));
    Label1->clear();
    setWindowTitle(QStringLiteral("Передача данных"));
    session_->start();
}

void TForm2::done(int result)
{
    // FormClose, for every way the window closes.
    session_->stop();
    QDialog::done(result);
}

void TForm2::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        Button1Click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TForm2::closeEvent(QCloseEvent* event)
{
    event->ignore();
    if (isVisible())
        Button1Click();
}

void TForm2::Button1Click()
{
    session_->cancel();
}

QProgressBar* TForm2::bar(int index) const
{
    return index == 0 ? ProgressBar1 : index == 1 ? ProgressBar2 : ProgressBar3;
}

void TForm2::setText(Text which, const QString& text)
{
    QLabel* label = nullptr;
    switch (which) {
    case Text::Status: label = StaticText2; break;
    case Text::DeviceType: label = StaticText5; break;
    case Text::SoftwareVersion: label = StaticText1; break;
    case Text::RecordCounts: label = StaticText7; break;
    case Text::Archive0: label = StaticText8; break;
    case Text::Archive1: label = StaticText9; break;
    case Text::Archive2: label = StaticText10; break;
    }
    label->setText(text);
}

void TForm2::setProgressMaximum(int index, int maximum)
{
    barMax_[index] = maximum;
    // A bar with maximum 0 would turn into a busy indicator; one step stands for "nothing to fetch".
    bar(index)->setRange(0, std::max(maximum, 1));
}

void TForm2::setProgressPosition(int index, int position)
{
    QProgressBar* b = bar(index);
    b->setValue(std::clamp(position, 0, b->maximum()));
}

void TForm2::onNotFound()
{
    ui::showError(this, QStringLiteral("Прибор не обнаружен! Проверте правильность подключения согласно инструкции!"));
    reject();
    Label1->clear();
}

void TForm2::onFinished(Outcome outcome, const QString& error)
{
    if (!isVisible())
        return;
    if (outcome == Outcome::Ok) {
        accept();
        return;
    }
    if (!error.isEmpty())
        ui::showError(this, error);
    reject();
}

}  // namespace device
