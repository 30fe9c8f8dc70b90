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
// The picture as a packed DIB (header and bottom-up rows) in global memory,
// for programs that take bitmaps only.
HGLOBAL dibOf(const QImage& image)
{
    const QImage img = image.convertToFormat(QImage::Format_RGB32);
    const SIZE_T bits = SIZE_T(img.width()) * img.height() * 4;
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, sizeof(BITMAPINFOHEADER) + bits);
    if (!mem)
        return nullptr;
    auto* head = static_cast<BITMAPINFOHEADER*>(GlobalLock(mem));
    *head = BITMAPINFOHEADER{};
    head->biSize = sizeof(BITMAPINFOHEADER);
    head->biWidth = img.width();
    head->biHeight = img.height();
    head->biPlanes = 1;
    head->biBitCount = 32;
    head->biCompression = BI_RGB;
    head->biSizeImage = DWORD(bits);
    auto* out = reinterpret_cast<uchar*>(head + 1);
    for (int y = 0; y < img.height(); ++y)
        memcpy(out + SIZE_T(img.height() - 1 - y) * img.width() * 4, img.constScanLine(y), SIZE_T(img.width()) * 4);
    GlobalUnlock(mem);
    return mem;
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

void putPictureOnClipboard(const QImage& image, const QByteArray& svg, const QByteArray& emf)
{
#ifdef Q_OS_WIN
    // The clipboard owns what it is given; what it refuses is freed here.
    if (OpenClipboard(nullptr)) {
        EmptyClipboard();
        if (!emf.isEmpty())
            if (HENHMETAFILE h = SetEnhMetaFileBits(UINT(emf.size()), reinterpret_cast<const BYTE*>(emf.constData())))
                if (!SetClipboardData(CF_ENHMETAFILE, h))
                    DeleteEnhMetaFile(h);
        if (HGLOBAL dib = dibOf(image))
            if (!SetClipboardData(CF_DIB, dib))
                GlobalFree(dib);
        CloseClipboard();
        return;
    }
#else
    Q_UNUSED(emf);
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
