#pragma once
// File version information in the layout of a Windows VS_VERSIONINFO
// resource.  On Windows get_version asks the system; elsewhere the program
// carries the same block in its executable (section ".dork5ver") and
// get_version finds it in the file.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

struct VersionFields {
    uint16_t major = 0, minor = 0, patch = 0, build = 0;
    uint16_t language = 0x0419;  // Russian
    uint16_t codePage = 0x04E3;  // 1251
    std::vector<std::pair<QString, QString>> strings;  // "FileVersion" -> "1.0.1.1", ...
};

// Builds a VS_VERSIONINFO block (UTF-16LE keys, 32-bit aligned children).
QByteArray buildVersionInfo(const VersionFields& f);

// Value queries on a block, as the system's value query does: "\" gives the
// fixed info, "\VarFileInfo\Translation" the translation words, and
// "\StringFileInfo\<key>\<name>" a string.  Empty when not found.
QByteArray queryVersionValue(const QByteArray& block, const QString& path);
QString queryVersionString(const QByteArray& block, const QString& path);

// The version text from a block: the "FileVersion" string of the first
// translation, or "0.0.0.0" when missing or shorter than 2 characters.
QString versionFromBlock(const QByteArray& block);

// Finds a VS_VERSIONINFO block inside arbitrary file bytes; empty if none.
QByteArray findVersionBlock(const QByteArray& fileBytes);

// The version text of a file.
QString get_version(const QString& path);
