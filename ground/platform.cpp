#include "ground/platform.h"

#include <QBuffer>
#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMimeData>
#include <QUrl>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace platform {
namespace {

std::function<bool(const QString&)>& opener()
{
    static std::function<bool(const QString&)> f;
    return f;
}

#ifdef Q_OS_WIN
// An enhanced metafile holding the picture, sized in hundredths of a
// millimetre at 96 dots per inch.
HENHMETAFILE metafileOf(const QImage& image)
{
    const QImage img = image.convertToFormat(QImage::Format_ARGB32);
    RECT frame{0, 0, LONG(img.width() * 2540 / 96), LONG(img.height() * 2540 / 96)};
    HDC screen = GetDC(nullptr);
    HDC dc = CreateEnhMetaFileW(screen, nullptr, &frame, L"DORK-5\0Chart\0");
    ReleaseDC(nullptr, screen);
    if (!dc)
        return nullptr;
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = img.width();
    bi.bmiHeader.biHeight = -img.height();  // top-down rows
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    StretchDIBits(dc, 0, 0, img.width(), img.height(), 0, 0, img.width(), img.height(), img.constBits(), &bi,
                  DIB_RGB_COLORS, SRCCOPY);
    return CloseEnhMetaFile(dc);
}
#endif

}  // namespace

bool openDocument(const QString& path)
{
    if (opener())
        return opener()(path);
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void setDocumentOpener(std::function<bool(const QString&)> f) { opener() = std::move(f); }

void putPictureOnClipboard(const QImage& image, const QByteArray& svg)
{
#ifdef Q_OS_WIN
    if (HENHMETAFILE emf = metafileOf(image)) {
        if (OpenClipboard(nullptr)) {
            EmptyClipboard();
            if (!SetClipboardData(CF_ENHMETAFILE, emf))
                DeleteEnhMetaFile(emf);
            CloseClipboard();
            return;
        }
        DeleteEnhMetaFile(emf);
    }
#endif
    auto* data = new QMimeData;
    data->setImageData(image);
    QByteArray png;
    QBuffer buf(&png);
    buf.open(QIODevice::WriteOnly);
    image.save(&buf, "PNG");
    data->setData(QStringLiteral("image/png"), png);
    if (!svg.isEmpty())
        data->setData(QStringLiteral("image/svg+xml"), svg);
    QGuiApplication::clipboard()->setMimeData(data);
}

}  // namespace platform
