#pragma once
// The operating system's reason for a failed file operation, in Russian: the
// C library's own texts follow the machine's language settings and are
// English on most systems.

#include <QString>

// Text for an errno value ("нет такого файла или папки", ...); an unknown
// value gives its number with the system's own text.
QString systemErrorText(int errnoValue);
