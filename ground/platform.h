#pragma once
// Operating-system services of the output commands, one place each:
// opening a written document with the desktop's application for it (the
// spreadsheet program for a workbook), and putting a picture on the
// clipboard.

#include <QByteArray>
#include <QImage>
#include <QString>
#include <functional>

namespace platform {

// Opens the file with the application the desktop associates with it.
// False when none could be started.
bool openDocument(const QString& path);
// Tests replace the opener so that nothing is started; empty: the desktop's.
void setDocumentOpener(std::function<bool(const QString&)> opener);

// Replaces the clipboard contents with a picture: on Windows the enhanced
// metafile `emf` (the bytes of an .emf file) and the bitmap, elsewhere PNG,
// SVG and the plain image.  `svg` and `emf` may be empty.
void putPictureOnClipboard(const QImage& image, const QByteArray& svg, const QByteArray& emf = QByteArray());

}  // namespace platform
