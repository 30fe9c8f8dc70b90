#include "views/about_window.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "ground/object_names.h"
#include "ground/version_info.h"

namespace {
void centre(QWidget* w)
{
    if (QScreen* s = QGuiApplication::primaryScreen()) {
        const QRect r = s->availableGeometry();
        w->move(r.center() - QPoint(w->width() / 2, w->height() / 2));
    }
}
}  // namespace

Tform6::Tform6(QWidget* parent) : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("О программе"));
    setFixedSize(515, 151);
    setModal(true);

    StaticText1 = new QLabel(QStringLiteral("ДОРК-5"), this);
    QFont big = StaticText1->font();
    big.setPixelSize(16);
    big.setBold(true);
    StaticText1->setFont(big);
    StaticText1->setGeometry(16, 14, 480, 24);

    StaticText3 = new QLabel(this);
    StaticText3->setGeometry(16, 46, 480, 20);

    StaticText2 = new QLabel(QStringLiteral("Программа для передачи данных с приборов ДОРК - 5"), this);
    StaticText2->setGeometry(16, 72, 480, 20);

    Button1 = new QPushButton(QStringLiteral("Ок"), this);
    Button1->setGeometry(515 - 75 - 14, 151 - 25 - 12, 75, 25);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &Tform6::Button1Click);
    setObjectNames({{this, "Tform6"}, {StaticText1, "StaticText1"}, {StaticText3, "StaticText3"}, {StaticText2, "StaticText2"},
                    {Button1, "Button1"}});
}

void Tform6::showEvent(QShowEvent* e)
{
    FormShow();
    centre(this);
    QDialog::showEvent(e);
}

void Tform6::FormShow()
{
    const QString file = versionSource_.isEmpty() ? QCoreApplication::applicationFilePath() : versionSource_;
    StaticText3->setText(QStringLiteral("Версия ") + get_version(file));
}

void Tform6::Button1Click() { accept(); }

TForm4::TForm4(QWidget* parent) : QDialog(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setFixedSize(400, 77);
    Image1 = new QLabel(this);
    Image1->setGeometry(0, 0, 400, 78);
    Image1->setPixmap(QPixmap::fromImage(picture()));
    Timer1 = new QTimer(this);
    Timer1->setInterval(3000);
    Timer1->setSingleShot(true);
    connect(Timer1, &QTimer::timeout, this, &TForm4::Timer1Timer);
    setObjectNames({{this, "TForm4"}, {Image1, "Image1"}, {Timer1, "Timer1"}});
    centre(this);
}

void TForm4::showEvent(QShowEvent* e)
{
    Timer1->start();
    QDialog::showEvent(e);
}

void TForm4::Timer1Timer() { accept(); }

QImage TForm4::picture()
{
    QImage img(400, 78, QImage::Format_RGB888);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient bg(0, 0, 400, 78);
    bg.setColorAt(0, QColor(18, 52, 96));
    bg.setColorAt(1, QColor(40, 110, 170));
    p.fillRect(img.rect(), bg);

    // A beam under load with its deflection curve: what the instrument measures.
    p.setPen(QPen(QColor(220, 230, 240), 3));
    p.drawLine(18, 30, 98, 30);
    QPainterPath curve;
    curve.moveTo(18, 38);
    curve.quadTo(58, 62, 98, 38);
    p.setPen(QPen(QColor(255, 196, 60), 2.5));
    p.drawPath(curve);
    p.setBrush(QColor(220, 230, 240));
    p.setPen(Qt::NoPen);
    p.drawPolygon(QPolygon({QPoint(14, 44), QPoint(22, 44), QPoint(18, 34)}));
    p.drawPolygon(QPolygon({QPoint(94, 44), QPoint(102, 44), QPoint(98, 34)}));

    QFont title(QStringLiteral("Liberation Sans"));
    title.setPixelSize(30);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRect(118, 6, 270, 38), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("ДОРК-5"));
    QFont sub(QStringLiteral("Liberation Sans"));
    sub.setPixelSize(13);
    p.setFont(sub);
    p.setPen(QColor(210, 225, 240));
    p.drawText(QRect(118, 44, 280, 26), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Передача и анализ данных прогибомера"));
    return img;
}
