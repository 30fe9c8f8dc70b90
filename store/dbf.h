#pragma once
// dBase III+/IV table engine (".dbf" layout, files named ".db" by the program).
//
// One Table object is bound to one file.  Every post is written to the file at
// once; the records are also kept in memory so that filtering, counting and
// walking 300,000 rows stays fast.  Sort orders ("index tags") live in memory
// only and never outlive the open table.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

namespace dbf {

struct FieldDef {
    QString name;     // upper case, at most 10 ASCII characters
    char type = 'C';  // 'C' character, 'N' numeric
    int width = 1;
    int decimals = 0;  // always 0 for 'C'
};

class Error : public std::runtime_error {
public:
    enum class Kind {
        Io,        // the file could not be read or written
        Corrupt,   // the file is not a valid table
        Locked,    // the file is open elsewhere (this or another process)
        ReadOnly,  // the file or its folder cannot be written
        Usage,     // an operation that the table's state does not allow
        Filter,    // filter text that cannot be parsed
        Field,     // unknown field name
        CodePage,  // text the file's code page cannot hold (nothing was changed)
        Memory,    // not enough memory for the table or the operation
        Damaged,   // records after the first are torn; openReadOnly() reads the rest
    };
    Error(Kind kind, const QString& message)
        : std::runtime_error(message.toStdString()), kind_(kind), text_(message) {}
    Kind kind() const { return kind_; }
    const QString& text() const { return text_; }

private:
    Kind kind_;
    QString text_;
};

// Language-driver byte -> code page name usable by QStringDecoder.  Byte 0,
// 0x57 ("current ANSI code page") and unknown bytes are read as Windows-1251.
QByteArray codecForLanguageDriver(uint8_t ldid);

// Work files.  A table being written whole (created, packed, or built by a
// caller) goes to a hidden work file beside it, ".<name>.<16 hex digits>.tmp",
// which replaces the table only when complete.
QString workFileBeside(const QString& path);
// Flushes `work` to disk, renames it over `target` (same folder) and flushes
// the folder, so that after a crash or power loss the target is either the
// old file or the complete new one.  Throws Error(Io).
void replaceWithWorkFile(const QString& work, const QString& target);
// Removes the work files of the table at `path` that a killed run left
// behind: only names of the pattern above, only files no process holds open.
// Table::create, open and pack do this themselves.
void removeStaleWorkFiles(const QString& path);

class Table {
public:
    Table();
    ~Table();
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    // ---- binding -------------------------------------------------------
    void setFileName(const QString& path);  // only while closed
    QString fileName() const;

    // Writes a new empty table with these fields (replacing the file).  The
    // file is written beside the target first and renamed into place, so a
    // failure never leaves a half-written table.  Throws Error.
    static void create(const QString& path, const std::vector<FieldDef>& fields,
                       uint8_t languageDriver = 0xC9);

    // Opens the bound file exclusively and reads it.  Throws Error (Corrupt,
    // Damaged, Locked, ReadOnly, Io, Memory).  Opening an open table does
    // nothing.  Every record starts with ' ' or '*': a file whose first record
    // does not (a zero-filled or sparse file) is Corrupt, one where a later
    // record does not (torn by a crash) is Damaged.  A file larger than the
    // memory this process can get is refused with Memory before anything is
    // read.
    void open();
    // Opens the bound file for reading only, shared with other readers: a
    // file without write permission or on read-only media, or a Damaged one,
    // whose damaged records are left out (see damagedRecords()).  The file is
    // never written; every change (append, edit, post, delete, pack) throws
    // Error(ReadOnly).
    void openReadOnly();
    void close();  // posts nothing; an unposted append/edit is dropped
    bool isOpen() const;
    bool readOnly() const;  // opened with openReadOnly()

    const std::vector<FieldDef>& fields() const;
    int fieldIndex(QStringView name) const;  // case-insensitive, -1 if none
    int fieldIndex(const char* name) const;
    uint8_t languageDriver() const;
    // Changes whenever the table is opened or closed; lets callers cache
    // field indexes (see FieldRef in measurement.h).
    quint64 generation() const;

    // ---- filter ----------------------------------------------------------
    // Language: FIELD=number, FIELD="text", AND, OR, NOT, parentheses, and the
    // comparisons = <> < > <= >=.  Throws Error(Filter) on bad text.  The new
    // filter takes effect at once when filtering is on.
    void setFilter(const QString& text);
    QString filter() const;
    void setFiltered(bool on);
    bool filtered() const;

    // Re-reads the view (filter and index order) and goes to the first row.
    // An edited row keeps its place in the view until then; appended rows
    // join the view at once (at the end, or at their sorted place when an
    // index is selected).  The filter may be set while the table is closed;
    // it is checked against the fields when the table opens.
    void refresh();

    // ---- the view: live rows that pass the filter, in index order ---------
    int recordCount() const;  // exact count of the view
    void first();
    void last();
    void next();
    void prior();
    bool eof() const;  // true after next() past the last row, or empty view
    bool bof() const;
    int recNo() const;         // 0-based position in the view, -1 if none
    void moveTo(int viewRow);  // 0-based; clamps, empty view -> eof
    uint32_t physicalRecNo() const;             // 0-based file record of the current row
    uint32_t physicalRecNoAt(int viewRow) const;  // for models
    uint32_t physicalCount() const;  // all records in the file, deleted included

    // Makes the physical record current, switching nothing else; returns
    // false when it is not in the view.
    bool gotoPhysical(uint32_t recno);

    // ---- reading the current row (or, for models, any physical record) ---
    QString asString(int field) const;  // text trimmed on the right; numbers as stored, trimmed
    QString asString(QStringView name) const;
    QString asString(const char* name) const;
    double asFloat(int field) const;    // blank numeric -> 0
    double asFloat(QStringView name) const;
    double asFloat(const char* name) const;
    int asInteger(int field) const;
    int asInteger(QStringView name) const;
    int asInteger(const char* name) const;
    bool isNull(int field) const;  // numeric field that is all blanks
    bool isNull(QStringView name) const;
    bool isNull(const char* name) const;

    QString stringAt(uint32_t recno, int field) const;
    double floatAt(uint32_t recno, int field) const;
    bool isNullAt(uint32_t recno, int field) const;
    bool isDeletedAt(uint32_t recno) const;

    // ---- writing ---------------------------------------------------------
    void append();  // new blank record becomes the edit buffer
    void edit();    // current row becomes the edit buffer
    // Text cut to width.  A text with a character that the file's code page
    // cannot hold is refused with Error(CodePage) naming the field; the edit
    // buffer keeps its old value of the field.
    void setString(int field, QStringView value);
    void setString(QStringView name, const QString& value);
    void setString(const char* name, const QString& value);
    // Numbers are stored "%W.Df".  A value too wide for its field keeps fewer
    // decimals; if even the integer part does not fit, the field is filled
    // with '*' (read back as null).  NaN/infinity store a blank.
    void setFloat(int field, double value);
    void setFloat(QStringView name, double value);
    void setFloat(const char* name, double value);
    void setInteger(int field, qint64 value);
    void setInteger(QStringView name, qint64 value);
    void setInteger(const char* name, qint64 value);
    void setNull(int field);
    void setNull(QStringView name);
    void post();    // writes the record, record count, date and EOF marker

    // Bulk writing, for a table nobody else sees yet (a database being built
    // beside its final name): appended records reach the file in slices of
    // 256 KB, and at endBulk(), close() or any other change.  Between those
    // the file's count lags behind.
    void beginBulk();
    void endBulk();
    // Room for this many records in all, so that a long run of appends does
    // not move the records in memory again and again.
    void reserveRows(uint32_t rows);
    void cancel();  // drops the edit buffer
    bool editing() const;

    // Deletion marks the record ('*'); marked rows leave every view and count.
    void deleteCurrent();
    void setDeleted(uint32_t recno, bool deleted);
    uint32_t deletedCount() const;
    // 0-based file records left out by openReadOnly() because their deletion
    // flag was damaged, in file order; they count as deleted rows.
    const std::vector<uint32_t>& damagedRecords() const;

    // Removes marked records.  The packed table is written beside the file and
    // replaces it only when complete; the table stays open.
    void pack();

    // First row of the view whose field equals value (numbers compared as
    // numbers, text after trimming).  Makes it current; false if none.
    bool locate(QStringView field, const QString& value);
    bool locate(const char* field, const QString& value);

    // ---- index tags: named sort orders over one field --------------------
    // Numbers sort numerically with blanks below every number; text sorts by
    // its decoded, trimmed text (QString::compare).  Ties keep file order.
    // Tag names are case-insensitive.
    // Creating a tag under an existing name replaces it.
    void createIndexTag(const QString& tag, QStringView field, bool descending);
    void createIndexTag(const QString& tag, const char* field, bool descending);
    void selectIndex(const QString& tag);  // empty name: file order
    QString currentIndex() const;
    void deleteIndexTag(const QString& tag);  // throws Error(Usage) when none
    QStringList indexTags() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

}  // namespace dbf
