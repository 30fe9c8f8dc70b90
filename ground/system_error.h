#pragma once
// The operating system's reason for a failed file operation, in Russian: the
// C library's own texts follow the machine's language settings and are
// English on most systems, and Qt's file classes give those same texts (or
// none at all, "Unknown error", when a write stops short).

#include <QFileDevice>
#include <QString>

// Text for an errno value ("нет такого файла или папки", ...); an unknown
// value gives its number with the system's own text.
QString systemErrorText(int errnoValue);

// Why writing, creating or replacing a file failed, as a sentence of its own
// ("Недостаточно места на диске", "Нет прав на запись", ...).
QString writeErrorText(int errnoValue);
#ifdef _WIN32
// The same for a Windows error code (GetLastError()).
QString writeErrorTextWin(unsigned long code);
#endif

// Why a write through a Qt file device failed: the errno value saved right
// after the failing call when there is one, else the device's error kind.
QString fileErrorText(QFileDevice::FileError error, int errnoValue);
