#pragma once
// Every file the program reads or writes by name must be a regular file: a
// FIFO would block the reader for ever, a device or a folder cannot hold a
// database, an image or a workbook.

#include <QString>

// Empty when `path` names a regular file (a link to one counts) or nothing
// yet, so that a file to be written may be created there.  Otherwise a
// Russian sentence that says what the path is instead, for the error box.
QString notRegularFileReason(const QString& path);

// `folder` when it names an existing folder; otherwise its nearest existing
// parent folder (a folder deleted or renamed since it was kept), and
// `fallback` when there is none (an empty text, a drive that is gone).
QString existingFolderOr(const QString& folder, const QString& fallback);
