// dBase III+/IV table engine.  See dbf.h for the interface.
//
// Layout on disk: a 32-byte header, one 32-byte descriptor per field, 0x0D,
// then fixed-length records (deletion flag + fields), then 0x1A.
//
// Decisions worth knowing when reading this file:
//  * Accepted version bytes: 0x03 (dBase III+/IV) and the variants that share
//    its layout (0x43, 0x63 dBase IV SQL tables; 0x83, 0x8B, 0xCB, 0xF5 memo
//    variants, only as long as no memo field is declared, since memo fields are
//    refused).  Anything else (dBase 7, Visual FoxPro ...) is Corrupt.
//  * Field types: C and N; F is handled exactly like N; D and L are handled as
//    character fields (their text is read and written as is, a date of zeros
//    reads as empty/null).  Any other type makes the file Corrupt.
//  * A number too wide for its field is stored with fewer decimals; if even
//    the integer part does not fit, the field is filled with '*' (as dBase
//    does), which reads back as null.  Neighbouring fields are never touched.
//  * The record count in the header is authoritative as long as the file holds
//    that many records; a file shorter than that is Corrupt.  Bytes after the
//    last counted record are ignored.
//
// The file layer is in dbf_os, code pages in dbf_codec, field values in
// dbf_record, header bytes in dbf_layout, filters in dbf_filter and sort
// orders in dbf_index; this file is the Table: load, view, cursor, edits.

#include "store/dbf.h"

#ifndef _WIN32
#include <sys/mman.h>
#endif

#include "store/dbf_codec.h"
#include "store/dbf_fail.h"
#include "store/dbf_filter.h"
#include "store/dbf_index.h"
#include "store/dbf_layout.h"
#include "store/dbf_os.h"
#include "store/dbf_record.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <new>

namespace dbf {

using namespace detail;

namespace {

[[noreturn]] void outOfMemory(const QString& what) {
    fail(E::Memory, QStringLiteral("Недостаточно памяти: %1").arg(what));
}

// Bulk writing hands the records to the system in slices small enough to be
// still in the processor's cache when they are copied: a large slice would
// be read back from memory, which costs as much as writing it.
constexpr qint64 kBulkFlushBytes = qint64(256) << 10;

QString megabytes(qint64 bytes) { return QString::number((bytes + (1 << 20) - 1) >> 20); }

// Records in memory: an allocator that leaves new bytes uninitialised, since
// every byte is read from the file or written by an append right away (a
// zero fill of 170 MB would cost as much as reading them).
template <typename T>
struct NoInitAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = NoInitAllocator<U>;
    };
    NoInitAllocator() = default;
    template <typename U>
    NoInitAllocator(const NoInitAllocator<U>&) {}
    template <typename U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
    // A large table lives in 2 MB pages where the system offers them: the
    // first touch of 170 MB in 4 KB pages costs as much as reading the file.
    T* allocate(size_t n) {
        const size_t bytes = n * sizeof(T);
        if (bytes < kHugeFrom)
            return std::allocator<T>::allocate(n);
        void* p = ::operator new(bytes, std::align_val_t(kHugePage));
#ifdef MADV_HUGEPAGE
        ::madvise(p, bytes / kHugePage * kHugePage, MADV_HUGEPAGE);
#endif
        return static_cast<T*>(p);
    }
    void deallocate(T* p, size_t n) {
        if (n * sizeof(T) < kHugeFrom)
            std::allocator<T>::deallocate(p, n);
        else
            ::operator delete(p, std::align_val_t(kHugePage));
    }
    static constexpr size_t kHugePage = size_t(2) << 20;
    static constexpr size_t kHugeFrom = size_t(8) << 20;
};
using Bytes = std::vector<char, NoInitAllocator<char>>;

}  // namespace

QString workFileBeside(const QString& path) { return os::tempNameBeside(path); }

void replaceWithWorkFile(const QString& work, const QString& target) {
    QString why;
    if (!os::syncFile(work))
        fail(E::Io, QStringLiteral("Не удалось сбросить на диск %1: %2").arg(work, os::lastWriteError()));
    if (!os::replace(work, target, why))
        fail(E::Io, QStringLiteral("Не удалось заменить %1: %2").arg(target, why));
}

void removeStaleWorkFiles(const QString& path) { os::removeStaleWorkFiles(path); }

struct Table::Impl {
    QString path;
    os::Handle fh = os::kNoHandle;
    bool readOnly = false;  // opened for reading only
    quint64 generation = 0;

    // Layout
    QByteArray header;  // the whole header as on disk (count/date kept current)
    std::vector<Field> fields;
    std::vector<FieldDef> defs;  // the same, as handed out by fields()
    QHash<QString, int> byName;  // upper-case name -> index (first wins)
    int headerLen = 0;
    int recLen = 0;
    uint8_t ldid = 0;
    const Codec* codec = nullptr;

    // Records, back to back, flag byte first.
    Bytes data;
    quint32 count = 0;
    quint32 deleted = 0;
    // Records of a file opened for reading whose deletion flag was neither
    // ' ' nor '*' (torn by a crash): marked deleted in memory only.
    std::vector<quint32> damaged;
    // Bulk writing: records from `written` on are in memory only.
    bool bulk = false;
    quint32 written = 0;

    // Writes the records held back by bulk writing, the end marker and the count.
    void flushBulk() {
        if (written == count || !isOpen()) {
            written = count;
            return;
        }
        const qint64 from = qint64(written) * recLen;
        const qint64 len = qint64(count - written) * recLen;
        if (!os::writeAt(fh, qint64(headerLen) + from, data.data() + from, len) ||
            !os::writeAt(fh, qint64(headerLen) + from + len, "\x1A", 1))
            fail(E::Io, QStringLiteral("Ошибка записи в файл %1: %2").arg(path, os::lastWriteError()));
        writeCountAndDate(count);
        written = count;
    }

    // Filter
    QString filterText;
    Filter filter;
    bool filterOn = false;

    // Index tags
    struct Tag {
        QString name;
        int field = 0;
        bool descending = false;
    };
    std::map<QString, Tag> tags;  // key: upper-case tag name
    QString currentTag;           // key into tags, empty: file order

    // View
    std::vector<quint32> view;
    bool viewStale = true;
    bool firstAfterRebuild = true;  // else reposition on curPhys
    int cur = -1;
    qint64 curPhys = -1;
    bool atEof = true, atBof = true;

    // Edit buffer
    enum class Mode { Browse, Append, Edit } mode = Mode::Browse;
    std::vector<char> buffer;
    quint32 editRec = 0;

    bool isOpen() const { return fh != os::kNoHandle; }
    const char* rec(quint32 r) const { return data.data() + size_t(r) * size_t(recLen); }
    char* rec(quint32 r) { return data.data() + size_t(r) * size_t(recLen); }

    void requireOpen() const {
        if (!isOpen())
            fail(E::Usage, QStringLiteral("Таблица не открыта"));
    }
    void requireWritable() const {
        requireOpen();
        if (readOnly)
            fail(E::ReadOnly, QStringLiteral("Файл %1 открыт только для чтения: изменить его нельзя")
                                  .arg(QDir::toNativeSeparators(path)));
    }
    // The edit buffer as a new last record in memory (room reserved first).
    void appendBuffer() {
        const size_t at = data.size();
        data.resize(at + size_t(recLen));
        std::memcpy(data.data() + at, buffer.data(), size_t(recLen));
    }
    // Room for one more record in memory, growing geometrically, so that an
    // append never fails after its bytes reached the file.
    void reserveOneMore() {
        const size_t want = data.size() + size_t(recLen);
        try {
            if (want > data.capacity())
                data.reserve(std::max(want, data.capacity() + data.capacity() / 2));
            if (view.size() == view.capacity())
                view.reserve(view.size() + view.size() / 2 + 16);
        } catch (const std::bad_alloc&) {
            outOfMemory(QStringLiteral("новая запись не помещается в памяти"));
        }
    }

    int lookup(QStringView name) const {
        auto it = byName.constFind(name.toString().toUpper());
        return it == byName.cend() ? -1 : it.value();
    }
    int need(QStringView name) const {
        requireOpen();
        const int i = lookup(name);
        if (i < 0)
            fail(E::Field, QStringLiteral("Поле %1 не найдено").arg(name));
        return i;
    }
    const Field& field(int i) const {
        requireOpen();
        if (i < 0 || size_t(i) >= fields.size())
            fail(E::Field, QStringLiteral("Нет поля с номером %1").arg(i));
        return fields[size_t(i)];
    }

    bool filterActive() const { return filterOn && filter.root >= 0; }
    bool passes(const char* r) const {
        return r[0] != '*' && (!filterActive() || filter.eval(r));
    }

    // ---- view ----------------------------------------------------------
    void markStale(bool goFirst) {
        viewStale = true;
        if (goFirst)
            firstAfterRebuild = true;
    }

    void rebuild() {
        view.clear();
        if (!filterActive())
            view.reserve(count - deleted);
        for (quint32 r = 0; r < count; ++r)
            if (passes(rec(r)))
                view.push_back(r);
        if (!currentTag.isEmpty())
            sortView();
        viewStale = false;
        if (firstAfterRebuild || curPhys < 0) {
            firstAfterRebuild = false;
            goFirst();
        } else {
            auto it = std::find(view.begin(), view.end(), quint32(curPhys));
            if (it != view.end()) {
                setCur(int(it - view.begin()));
            } else {
                goFirst();
            }
        }
    }

    void sortView() {
        const Tag& t = tags.at(currentTag);
        sortRows(view, data.data(), size_t(recLen), fields[size_t(t.field)], t.descending, *codec);
    }

    void ensureView() {
        if (isOpen() && viewStale) {
            try {
                rebuild();
            } catch (const std::bad_alloc&) {
                view.clear();
                view.shrink_to_fit();
                cur = -1;
                curPhys = -1;
                atEof = atBof = true;
                outOfMemory(QStringLiteral("не удалось отобрать или упорядочить строки таблицы"));
            }
        }
    }

    void setCur(int i) {
        cur = i;
        curPhys = view[size_t(i)];
        atEof = atBof = false;
    }
    void goFirst() {
        if (view.empty()) {
            cur = -1;
            curPhys = -1;
            atEof = atBof = true;
        } else {
            setCur(0);
            atBof = true;
        }
    }

    // Removes one physical record from a valid view, keeping the cursor on the
    // row that followed it.
    void dropFromView(quint32 r) {
        if (viewStale)
            return;
        auto it = std::find(view.begin(), view.end(), r);
        if (it == view.end())
            return;
        const int pos = int(it - view.begin());
        view.erase(it);
        if (view.empty()) {
            cur = -1;
            curPhys = -1;
            atEof = atBof = true;
        } else if (pos < cur) {
            --cur;
        } else if (pos == cur) {
            setCur(std::min(cur, int(view.size()) - 1));
        }
    }

    // ---- reading ---------------------------------------------------------
    QString textOf(const char* r, const Field& f) const { return fieldText(r, f, *codec); }
    bool nullOf(const char* r, const Field& f) const { return fieldIsNull(r, f); }
    double floatOf(const char* r, const Field& f) const { return fieldFloat(r, f); }

    // The row that field reads address: the edit buffer while editing, else
    // the current row; null when there is none.
    const char* currentRow() {
        if (mode != Mode::Browse)
            return buffer.data();
        ensureView();
        if (cur < 0 || curPhys < 0)
            return nullptr;
        return rec(quint32(curPhys));
    }

    const char* physical(quint32 r) const {
        requireOpen();
        if (r >= count)
            fail(E::Usage, QStringLiteral("Нет записи с номером %1").arg(r));
        return rec(r);
    }

    // ---- writing ---------------------------------------------------------
    char* editField(int i, const Field*& f) {
        f = &field(i);
        if (mode == Mode::Browse)
            fail(E::Usage, QStringLiteral("Запись не в режиме правки (нужен append или edit)"));
        return buffer.data() + f->offset;
    }

    void writeOrThrow(qint64 off, const void* p, qint64 len) {
        if (!os::writeAt(fh, off, p, len))
            fail(E::Io, QStringLiteral("Ошибка записи в файл %1: %2").arg(path, os::lastWriteError()));
    }

    // Keeps the header's record count and update date true on disk.
    void writeCountAndDate(quint32 newCount) {
        char h[7];
        const QByteArray today = todayBytes();
        std::memcpy(h, today.constData(), 3);
        put32(h + 3, newCount);
        writeOrThrow(1, h, 7);
        std::memcpy(header.data() + 1, h, 7);
    }

    void closeFile() {
        os::close(fh);
        readOnly = false;
        header.clear();
        fields.clear();
        defs.clear();
        byName.clear();
        data.clear();
        data.shrink_to_fit();
        count = deleted = 0;
        damaged.clear();
        written = 0;
        bulk = false;
        tags.clear();
        currentTag.clear();
        view.clear();
        viewStale = true;
        firstAfterRebuild = true;
        cur = -1;
        curPhys = -1;
        atEof = atBof = true;
        mode = Mode::Browse;
        buffer.clear();
        filter = Filter();
        ++generation;
    }

    // Reads and checks the layout of the open file `h`, then its records.
    // With `keepIntact`, records after the first whose deletion flag is
    // damaged are listed in `damaged` and left out of every view; else the
    // file is refused (Damaged).  A damaged first record is always Corrupt.
    void load(os::Handle h, bool keepIntact) {
        const qint64 size = os::size(h);
        if (size < 0)
            fail(E::Io, QStringLiteral("Не удалось узнать размер %1").arg(path));
        auto corrupt = [&](const QString& why) {
            fail(E::Corrupt, QStringLiteral("Файл %1 не является таблицей dBase: %2").arg(path, why));
        };
        if (size < 32)
            corrupt(QStringLiteral("короче заголовка (%1 байт)").arg(size));
        char top[32];
        if (!os::readAt(h, 0, top, 32))
            fail(E::Io, QStringLiteral("Ошибка чтения %1").arg(path));
        const uint8_t version = uint8_t(top[0]);
        if (!acceptedVersion(version))
            corrupt(QStringLiteral("неизвестный вид файла 0x%1").arg(version, 2, 16, QLatin1Char('0')));
        const int hLen = int(get16(top + 8));
        const int rLen = int(get16(top + 10));
        const quint32 cnt = get32(top + 4);
        if (hLen < 32 + 32 + 1 || (hLen - 33) % 32 != 0)
            corrupt(QStringLiteral("неверная длина заголовка %1").arg(hLen));
        if (hLen > size)
            corrupt(QStringLiteral("заголовок (%1 байт) длиннее файла").arg(hLen));
        QByteArray hdr(hLen, Qt::Uninitialized);
        if (!os::readAt(h, 0, hdr.data(), hLen))
            fail(E::Io, QStringLiteral("Ошибка чтения %1").arg(path));
        int n = 0;
        while (32 + 32 * n < hLen && hdr[32 + 32 * n] != 0x0D)
            ++n;
        if (32 + 32 * n + 1 != hLen)
            corrupt(QStringLiteral("длина заголовка %1 не согласуется с %2 описаниями полей")
                        .arg(hLen)
                        .arg(n));
        if (n == 0)
            corrupt(QStringLiteral("нет ни одного поля"));

        ldid = uint8_t(top[29]);
        codec = &codecFor(codecForLanguageDriver(ldid));
        std::vector<Field> fs;
        QHash<QString, int> names;
        int offset = 1;
        for (int i = 0; i < n; ++i) {
            const char* d = hdr.constData() + 32 + 32 * i;
            int nameLen = 0;
            while (nameLen < 11 && d[nameLen] != '\0')
                ++nameLen;
            Field f;
            f.def.name = codec->decode(d, nameLen).trimmed().toUpper();
            if (f.def.name.isEmpty())
                corrupt(QStringLiteral("поле %1 без имени").arg(i + 1));
            const char type = char(QChar::fromLatin1(d[11]).toUpper().toLatin1());
            f.def.type = type;
            f.def.width = uint8_t(d[16]);
            f.def.decimals = uint8_t(d[17]);
            switch (type) {
            case 'N':
            case 'F':
                f.numeric = true;
                if (f.def.decimals > 0 && f.def.decimals >= f.def.width)
                    corrupt(QStringLiteral("у поля %1 знаков после точки не меньше ширины")
                                .arg(f.def.name));
                break;
            case 'D':
                f.date = true;
                f.def.decimals = 0;
                break;
            case 'C':
            case 'L':
                f.def.decimals = 0;  // some writers keep junk there; width is byte 16
                break;
            default:
                corrupt(QStringLiteral("поле %1 неподдерживаемого типа '%2'")
                            .arg(f.def.name, QString::fromLatin1(&d[11], 1)));
            }
            if (f.def.width == 0)
                corrupt(QStringLiteral("поле %1 нулевой ширины").arg(f.def.name));
            f.offset = offset;
            offset += f.def.width;
            if (!names.contains(f.def.name))
                names.insert(f.def.name, i);
            fs.push_back(f);
        }
        if (offset != rLen)
            corrupt(QStringLiteral("длина записи %1, а сумма ширин полей %2").arg(rLen).arg(offset));
        const qint64 need = qint64(hLen) + qint64(cnt) * qint64(rLen);
        if (need > size)
            corrupt(QStringLiteral("в заголовке %1 записей, а в файле их %2")
                        .arg(cnt)
                        .arg((size - hLen) / rLen));
        // The records are held in memory, with a 4-byte view entry per row:
        // a file that cannot fit is refused before anything is allocated.
        const qint64 inMemory = qint64(cnt) * (qint64(rLen) + 8);
        const qint64 room = os::memoryAvailable();
        if ((room >= 0 && inMemory > room) || quint64(inMemory) > quint64(std::numeric_limits<size_t>::max() / 2))
            fail(E::Memory, QStringLiteral("Файл %1 слишком велик: для его %2 записей нужно %3 МБ памяти, "
                                           "а доступно %4 МБ")
                                .arg(QDir::toNativeSeparators(path))
                                .arg(cnt)
                                .arg(megabytes(inMemory), megabytes(std::max<qint64>(room, 0))));
        Bytes recs;
        try {
            recs.resize(size_t(cnt) * size_t(rLen));
        } catch (const std::bad_alloc&) {
            fail(E::Memory, QStringLiteral("Недостаточно памяти, чтобы прочитать файл %1 (%2 МБ)")
                                .arg(QDir::toNativeSeparators(path), megabytes(inMemory)));
        }
        // Read in slices of whole records, each checked while it is still in
        // the cache: every record starts with its deletion flag, ' ' or '*'.
        // Anything else (a zero-filled or sparse region, a shifted record) is
        // not data.
        quint32 marked = 0;
        std::vector<quint32> torn;
        const quint32 perSlice = std::max<quint32>(1, quint32((4 << 20) / rLen));
        for (quint32 from = 0; from < cnt; from += perSlice) {
            const quint32 n = std::min(perSlice, cnt - from);
            char* p = recs.data() + size_t(from) * size_t(rLen);
            if (!os::readAt(h, hLen + qint64(from) * rLen, p, qint64(n) * rLen))
                fail(E::Io, QStringLiteral("Ошибка чтения %1").arg(path));
            for (quint32 r = 0; r < n; ++r) {
                const char flag = p[size_t(r) * size_t(rLen)];
                if (flag == '*') {
                    ++marked;
                } else if (flag != ' ') {
                    const quint32 at = from + r;
                    const QString what = QStringLiteral("запись %1 повреждена (байт признака удаления 0x%2)")
                                             .arg(at + 1)
                                             .arg(uint8_t(flag), 2, 16, QLatin1Char('0'));
                    // A file that starts with a damaged record (zero-filled,
                    // sparse) holds no data to speak of.
                    if (at == 0)
                        corrupt(what);
                    if (!keepIntact)
                        fail(E::Damaged, QStringLiteral("Файл %1 повреждён: %2").arg(path, what));
                    try {
                        torn.push_back(at);
                    } catch (const std::bad_alloc&) {
                        outOfMemory(QStringLiteral("список повреждённых записей"));
                    }
                    p[size_t(r) * size_t(rLen)] = '*';
                    ++marked;
                }
            }
        }

        header = hdr;
        fields = std::move(fs);
        defs.clear();
        for (const Field& f : fields)
            defs.push_back(f.def);
        byName = std::move(names);
        headerLen = hLen;
        recLen = rLen;
        data = std::move(recs);
        count = cnt;
        written = cnt;
        deleted = marked;
        damaged = std::move(torn);
        fh = h;
    }

    // Settles the filter and the view of a table just loaded.
    void opened();

    // Recompiles the filter text against the current fields.
    void compileFilter() {
        filter = Filter();
        if (!isOpen())
            return;
        const std::function<int(QStringView)> lk = [this](QStringView n) { return lookup(n); };
        filter = detail::compileFilter(filterText, fields, *codec, lk);
    }
};

// ===========================================================================

Table::Table() : d(std::make_unique<Impl>()) {}
Table::~Table() {
    if (d->isOpen()) {
        try {
            d->flushBulk();
        } catch (const Error&) {
            // Nothing to report to from a destructor; the file keeps what
            // reached it, with a count that matches.
        }
        d->closeFile();
    }
}

void Table::beginBulk() {
    d->requireWritable();
    d->flushBulk();
    d->bulk = true;
}

void Table::reserveRows(uint32_t rows) {
    d->requireOpen();
    const size_t want = size_t(rows) * size_t(d->recLen);
    if (want > d->data.capacity())
        d->data.reserve(want);
    if (d->view.capacity() < rows)
        d->view.reserve(rows);
}

void Table::endBulk() {
    d->bulk = false;
    d->flushBulk();
}

void Table::setFileName(const QString& path) {
    if (d->isOpen())
        fail(E::Usage, QStringLiteral("Имя файла меняется только у закрытой таблицы"));
    d->path = path;
}
QString Table::fileName() const { return d->path; }

void Table::create(const QString& path, const std::vector<FieldDef>& fields, uint8_t languageDriver) {
    if (fields.empty())
        fail(E::Usage, QStringLiteral("Таблица без полей"));
    if (fields.size() > 255)
        fail(E::Usage, QStringLiteral("Слишком много полей"));
    int recLen = 1;
    QStringList seen;
    for (const FieldDef& f : fields) {
        const QString up = f.name.toUpper();
        bool okName = !up.isEmpty() && up.size() <= 10 && up[0].isLetter();
        for (QChar c : up)
            okName = okName && c.unicode() < 0x80 && (c.isLetterOrNumber() || c == u'_');
        if (!okName)
            fail(E::Usage, QStringLiteral("Недопустимое имя поля \"%1\"").arg(f.name));
        if (seen.contains(up))
            fail(E::Usage, QStringLiteral("Поле %1 повторяется").arg(up));
        seen << up;
        if (f.type != 'C' && f.type != 'N' && f.type != 'F' && f.type != 'D' && f.type != 'L')
            fail(E::Usage, QStringLiteral("Поле %1: неподдерживаемый тип").arg(up));
        if (f.width < 1 || f.width > 254)
            fail(E::Usage, QStringLiteral("Поле %1: ширина %2 вне 1..254").arg(up).arg(f.width));
        if ((f.type == 'N' || f.type == 'F') &&
            (f.decimals < 0 || (f.decimals > 0 && f.decimals > f.width - 2)))
            fail(E::Usage, QStringLiteral("Поле %1: неверное число знаков после точки").arg(up));
        if (f.type != 'N' && f.type != 'F' && f.decimals != 0)
            fail(E::Usage, QStringLiteral("Поле %1: у текста нет знаков после точки").arg(up));
        recLen += f.width;
    }
    if (recLen > 65535)
        fail(E::Usage, QStringLiteral("Слишком длинная запись"));

    const QFileInfo fi(path);
    const QString dir = fi.absolutePath();
    if (!QFileInfo(dir).isDir())
        fail(E::Io, QStringLiteral("Папка %1 не существует").arg(dir));
    if (!os::folderWritable(dir))
        fail(E::ReadOnly, QStringLiteral("Нет прав на запись в папку %1").arg(dir));
    if (fi.exists()) {
        if (os::fileMarkedReadOnly(path))
            fail(E::ReadOnly, QStringLiteral("Файл %1 только для чтения").arg(path));
        // Refuses to replace a table that is open (here or elsewhere).
        os::HandleGuard probe(os::openExclusive(path));
    }

    os::removeStaleWorkFiles(path);
    QByteArray bytes = buildHeader(fields, languageDriver, 0);
    bytes.append(char(0x1A));
    const QString tmp = os::tempNameBeside(path);
    os::Handle h = os::createNew(tmp);
    const bool ok = os::writeAt(h, 0, bytes.constData(), bytes.size()) && os::sync(h);
    QString why = ok ? QString() : os::lastWriteError();
    os::close(h);
    if (!ok || !os::replace(tmp, path, why)) {
        os::remove(tmp);
        fail(E::Io, QStringLiteral("Не удалось записать %1: %2").arg(path, why));
    }
}

void Table::open() {
    if (d->isOpen())
        return;
    if (d->path.isEmpty())
        fail(E::Usage, QStringLiteral("Не задано имя файла таблицы"));
    os::HandleGuard g(os::openExclusive(d->path));
    os::removeStaleWorkFiles(d->path);
    d->load(g.h, false);  // throws; the guard closes the file
    g.release();
    d->readOnly = false;
    d->opened();
}

void Table::openReadOnly() {
    if (d->isOpen())
        return;
    if (d->path.isEmpty())
        fail(E::Usage, QStringLiteral("Не задано имя файла таблицы"));
    os::HandleGuard g(os::openForReading(d->path));
    d->load(g.h, true);
    g.release();
    d->readOnly = true;
    d->opened();
}

void Table::Impl::opened() {
    ++generation;
    try {
        compileFilter();
    } catch (const Error&) {
        // A filter that names fields this table lacks: filtering is dropped.
        filterText.clear();
        filter = Filter();
    }
    markStale(true);
}

void Table::close() {
    if (d->isOpen()) {
        d->bulk = false;
        struct Closer {
            Impl& m;
            ~Closer() { m.closeFile(); }
        } closer{*d};
        d->flushBulk();
    }
}
bool Table::isOpen() const { return d->isOpen(); }
bool Table::readOnly() const { return d->isOpen() && d->readOnly; }

const std::vector<FieldDef>& Table::fields() const { return d->defs; }
int Table::fieldIndex(QStringView name) const { return d->lookup(name); }
int Table::fieldIndex(const char* name) const { return d->lookup(QString::fromLatin1(name)); }
uint8_t Table::languageDriver() const { return d->ldid; }
quint64 Table::generation() const { return d->generation; }

// ---- filter ---------------------------------------------------------------

void Table::setFilter(const QString& text) {
    const QString old = d->filterText;
    d->filterText = text;
    try {
        d->compileFilter();
    } catch (const Error&) {
        d->filterText = old;
        d->compileFilter();
        throw;
    } catch (const std::bad_alloc&) {
        d->filterText.clear();  // no filter rather than one that is not applied
        d->filter = Filter();
        d->markStale(true);
        outOfMemory(QStringLiteral("не удалось разобрать фильтр"));
    }
    if (d->filterOn)
        d->markStale(true);
}
QString Table::filter() const { return d->filterText; }
void Table::setFiltered(bool on) {
    if (d->filterOn == on)
        return;
    d->filterOn = on;
    d->markStale(true);
}
bool Table::filtered() const { return d->filterOn; }

void Table::refresh() {
    d->requireOpen();
    d->markStale(true);
    d->ensureView();
}

// ---- navigation -------------------------------------------------------------

int Table::recordCount() const {
    if (!d->isOpen())
        return 0;
    d->ensureView();
    return int(d->view.size());
}
void Table::first() {
    d->requireOpen();
    d->ensureView();
    d->goFirst();
}
void Table::last() {
    d->requireOpen();
    d->ensureView();
    if (d->view.empty()) {
        d->goFirst();
    } else {
        d->setCur(int(d->view.size()) - 1);
    }
}
void Table::next() {
    d->requireOpen();
    d->ensureView();
    if (d->view.empty()) {
        d->atEof = true;
        return;
    }
    if (d->cur + 1 < int(d->view.size())) {
        d->setCur(d->cur + 1);
    } else {
        d->atEof = true;
        d->atBof = false;
    }
}
void Table::prior() {
    d->requireOpen();
    d->ensureView();
    if (d->view.empty()) {
        d->atBof = true;
        return;
    }
    if (d->cur > 0) {
        d->setCur(d->cur - 1);
    } else {
        d->atBof = true;
        d->atEof = false;
    }
}
bool Table::eof() const {
    if (!d->isOpen())
        return true;
    d->ensureView();
    return d->atEof;
}
bool Table::bof() const {
    if (!d->isOpen())
        return true;
    d->ensureView();
    return d->atBof;
}
int Table::recNo() const {
    if (!d->isOpen())
        return -1;
    d->ensureView();
    return d->cur;
}
void Table::moveTo(int viewRow) {
    d->requireOpen();
    d->ensureView();
    if (d->view.empty()) {
        d->goFirst();
        return;
    }
    d->setCur(std::clamp(viewRow, 0, int(d->view.size()) - 1));
}
uint32_t Table::physicalRecNo() const {
    d->requireOpen();
    d->ensureView();
    if (d->curPhys < 0)
        fail(E::Usage, QStringLiteral("Нет текущей записи"));
    return uint32_t(d->curPhys);
}
uint32_t Table::physicalRecNoAt(int viewRow) const {
    d->requireOpen();
    d->ensureView();
    if (viewRow < 0 || size_t(viewRow) >= d->view.size())
        fail(E::Usage, QStringLiteral("Нет строки %1").arg(viewRow));
    return d->view[size_t(viewRow)];
}
uint32_t Table::physicalCount() const { return d->count; }

bool Table::gotoPhysical(uint32_t recno) {
    d->requireOpen();
    d->ensureView();
    auto it = std::find(d->view.begin(), d->view.end(), recno);
    if (it == d->view.end())
        return false;
    d->setCur(int(it - d->view.begin()));
    return true;
}

// ---- reading ----------------------------------------------------------------

QString Table::asString(int field) const {
    const Field& f = d->field(field);
    const char* r = d->currentRow();
    return r ? d->textOf(r, f) : QString();
}
QString Table::asString(QStringView name) const { return asString(d->need(name)); }
QString Table::asString(const char* name) const { return asString(QString::fromLatin1(name)); }

double Table::asFloat(int field) const {
    const Field& f = d->field(field);
    const char* r = d->currentRow();
    return r ? d->floatOf(r, f) : 0.0;
}
double Table::asFloat(QStringView name) const { return asFloat(d->need(name)); }
double Table::asFloat(const char* name) const { return asFloat(QString::fromLatin1(name)); }

int Table::asInteger(int field) const {
    const double v = std::round(asFloat(field));
    if (v >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (v <= double(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return int(v);
}
int Table::asInteger(QStringView name) const { return asInteger(d->need(name)); }
int Table::asInteger(const char* name) const { return asInteger(QString::fromLatin1(name)); }

bool Table::isNull(int field) const {
    const Field& f = d->field(field);
    const char* r = d->currentRow();
    return r ? d->nullOf(r, f) : true;
}
bool Table::isNull(QStringView name) const { return isNull(d->need(name)); }
bool Table::isNull(const char* name) const { return isNull(QString::fromLatin1(name)); }

QString Table::stringAt(uint32_t recno, int field) const {
    const Field& f = d->field(field);
    return d->textOf(d->physical(recno), f);
}
double Table::floatAt(uint32_t recno, int field) const {
    const Field& f = d->field(field);
    return d->floatOf(d->physical(recno), f);
}
bool Table::isNullAt(uint32_t recno, int field) const {
    const Field& f = d->field(field);
    return d->nullOf(d->physical(recno), f);
}
bool Table::isDeletedAt(uint32_t recno) const { return d->physical(recno)[0] == '*'; }

// ---- writing ----------------------------------------------------------------

void Table::append() {
    d->requireWritable();
    d->buffer.assign(size_t(d->recLen), ' ');
    d->mode = Impl::Mode::Append;
}

void Table::edit() {
    d->requireWritable();
    if (d->mode != Impl::Mode::Browse)
        return;  // already editing: keep the buffer
    d->ensureView();
    if (d->curPhys < 0)
        fail(E::Usage, QStringLiteral("Нет текущей записи для правки"));
    d->editRec = quint32(d->curPhys);
    const char* r = d->rec(d->editRec);
    d->buffer.assign(r, r + d->recLen);
    d->mode = Impl::Mode::Edit;
}

void Table::setString(int field, QStringView value) {
    const Field* f = nullptr;
    char* p = d->editField(field, f);
    const int w = f->def.width;
    if (f->numeric) {
        const QStringView t = value.trimmed();
        if (t.isEmpty()) {
            std::memset(p, ' ', size_t(w));
            return;
        }
        const QByteArray a = t.toLatin1();
        double v;
        if (!parseNumber(a.constData(), int(a.size()), v))
            fail(E::Usage, QStringLiteral("\"%1\" — не число (поле %2)").arg(value.toString(), f->def.name));
        formatNumber(v, w, f->def.decimals, p);
        return;
    }
    // Encoded aside first, so that a refused text leaves the field as it was.
    char enc[256];
    qsizetype missing = -1;
    const int n = d->codec->encode(value, enc, w, &missing);
    if (missing >= 0) {
        const QByteArray cp = codecForLanguageDriver(d->ldid);
        fail(E::CodePage, QStringLiteral("Поле %1: символ «%2» нельзя записать в кодировке файла (%3). "
                                         "Значение поля не изменено.")
                              .arg(f->def.name,
                                   value.mid(missing, value.at(missing).isHighSurrogate() ? 2 : 1).toString(),
                                   codePageTitle(cp)));
    }
    std::memcpy(p, enc, size_t(n));
    std::memset(p + n, ' ', size_t(w - n));
}
void Table::setString(QStringView name, const QString& value) { setString(d->need(name), value); }
void Table::setString(const char* name, const QString& value) {
    setString(d->need(QString::fromLatin1(name)), value);
}

void Table::setFloat(int field, double value) {
    const Field* f = nullptr;
    char* p = d->editField(field, f);
    if (f->numeric) {
        formatNumber(value, f->def.width, f->def.decimals, p);
    } else {
        setString(field, std::isfinite(value) ? QString::number(value, 'g', 15) : QString());
    }
}
void Table::setFloat(QStringView name, double value) { setFloat(d->need(name), value); }
void Table::setFloat(const char* name, double value) {
    setFloat(d->need(QString::fromLatin1(name)), value);
}

void Table::setInteger(int field, qint64 value) {
    const Field* f = nullptr;
    d->editField(field, f);
    if (f->numeric)
        setFloat(field, double(value));
    else
        setString(field, QString::number(value));
}
void Table::setInteger(QStringView name, qint64 value) { setInteger(d->need(name), value); }
void Table::setInteger(const char* name, qint64 value) {
    setInteger(d->need(QString::fromLatin1(name)), value);
}

void Table::setNull(int field) {
    const Field* f = nullptr;
    char* p = d->editField(field, f);
    std::memset(p, ' ', size_t(f->def.width));
}
void Table::setNull(QStringView name) { setNull(d->need(name)); }

void Table::post() {
    d->requireWritable();
    Impl& m = *d;
    if (m.mode == Impl::Mode::Browse)
        fail(E::Usage, QStringLiteral("Нечего записывать: запись не в режиме правки"));
    if (m.mode == Impl::Mode::Edit) {
        m.flushBulk();
        m.buffer[0] = m.rec(m.editRec)[0];  // deletion flag is not the edit's business
        m.writeOrThrow(qint64(m.headerLen) + qint64(m.editRec) * m.recLen, m.buffer.data(), m.recLen);
        std::memcpy(m.rec(m.editRec), m.buffer.data(), size_t(m.recLen));
        m.mode = Impl::Mode::Browse;
        m.writeCountAndDate(m.count);
        return;
    }
    // Append: the record and the end marker first, then the count, so an
    // interruption leaves the old count and an intact file.
    if (m.count == std::numeric_limits<quint32>::max())
        fail(E::Usage, QStringLiteral("Таблица переполнена"));
    const quint32 r = m.count;
    m.buffer[0] = ' ';
    m.reserveOneMore();
    if (m.bulk) {
        m.appendBuffer();
        m.count = r + 1;
        if (qint64(m.count - m.written) * m.recLen >= kBulkFlushBytes)
            m.flushBulk();
    } else {
    m.buffer.push_back(char(0x1A));
    const bool ok = os::writeAt(m.fh, qint64(m.headerLen) + qint64(r) * m.recLen, m.buffer.data(),
                                qint64(m.buffer.size()));
    m.buffer.pop_back();
    if (!ok)
        fail(E::Io, QStringLiteral("Ошибка записи в файл %1: %2").arg(m.path, os::lastWriteError()));
    m.writeCountAndDate(r + 1);
    m.appendBuffer();
    m.count = r + 1;
    m.written = m.count;
    }
    m.mode = Impl::Mode::Browse;

    if (!m.passes(m.rec(r)))
        return;
    if (m.viewStale || !m.currentTag.isEmpty()) {
        // With a sort order the place of the row is known only after sorting.
        m.viewStale = true;
        m.firstAfterRebuild = false;
        m.curPhys = r;
        return;
    }
    m.view.push_back(r);
    m.setCur(int(m.view.size()) - 1);
}

void Table::cancel() {
    d->mode = Impl::Mode::Browse;
    d->buffer.clear();
}
bool Table::editing() const { return d->mode != Impl::Mode::Browse; }

void Table::deleteCurrent() {
    d->requireWritable();
    if (d->mode == Impl::Mode::Append) {  // deleting an unposted row drops it
        cancel();
        return;
    }
    cancel();
    d->ensureView();
    if (d->curPhys < 0)
        fail(E::Usage, QStringLiteral("Нет текущей записи для удаления"));
    setDeleted(uint32_t(d->curPhys), true);
}

void Table::setDeleted(uint32_t recno, bool deleted) {
    d->requireWritable();
    char* r = const_cast<char*>(d->physical(recno));
    const char flag = deleted ? '*' : ' ';
    if (r[0] == flag)
        return;
    d->flushBulk();
    d->writeOrThrow(qint64(d->headerLen) + qint64(recno) * d->recLen, &flag, 1);
    d->writeCountAndDate(d->count);
    r[0] = flag;
    if (deleted) {
        ++d->deleted;
        d->dropFromView(recno);
    } else {
        --d->deleted;
        d->viewStale = true;  // the row comes back at its place on the next read
        d->firstAfterRebuild = false;
    }
}
uint32_t Table::deletedCount() const { return d->deleted; }
const std::vector<uint32_t>& Table::damagedRecords() const { return d->damaged; }

void Table::pack() {
    d->requireWritable();
    Impl& m = *d;
    cancel();
    m.flushBulk();
    os::removeStaleWorkFiles(m.path);
    const QString dir = QFileInfo(m.path).absolutePath();
    if (!os::folderWritable(dir))
        fail(E::ReadOnly, QStringLiteral("Нет прав на запись в папку %1").arg(dir));

    const quint32 live = m.count - m.deleted;
    QByteArray head = m.header;
    const QByteArray today = todayBytes();
    std::memcpy(head.data() + 1, today.constData(), 3);
    put32(head.data() + 4, live);
    head[28] = 0;  // no production index goes with the packed file

    Bytes packed;
    try {
        packed.reserve(size_t(live) * size_t(m.recLen));
    } catch (const std::bad_alloc&) {
        outOfMemory(QStringLiteral("не удалось сжать таблицу %1").arg(QDir::toNativeSeparators(m.path)));
    }
    for (quint32 r = 0; r < m.count; ++r)
        if (m.rec(r)[0] != '*')
            packed.insert(packed.end(), m.rec(r), m.rec(r) + m.recLen);

    const QString tmp = os::tempNameBeside(m.path);
    os::HandleGuard t(os::createNew(tmp));
    const char eof = 0x1A;
    bool ok = os::writeAt(t.h, 0, head.constData(), head.size()) &&
              (packed.empty() || os::writeAt(t.h, head.size(), packed.data(), qint64(packed.size()))) &&
              os::writeAt(t.h, head.size() + qint64(packed.size()), &eof, 1) && os::sync(t.h);
    if (!ok) {
        const QString why = os::lastWriteError();
        os::close(t.h);
        os::remove(tmp);
        fail(E::Io, QStringLiteral("Не удалось записать сжатую таблицу рядом с %1: %2").arg(m.path, why));
    }
    QString why;
    if (!os::kRenameNeedsClose) {
        if (!os::replace(tmp, m.path, why)) {
            os::close(t.h);
            os::remove(tmp);
            fail(E::Io, QStringLiteral("Не удалось заменить %1: %2").arg(m.path, why));
        }
        os::close(m.fh);
        m.fh = t.release();  // the locked temp file now is the table
    } else {
        os::close(t.h);
        os::close(m.fh);
        const bool replaced = os::replace(tmp, m.path, why);
        if (!replaced)
            os::remove(tmp);
        try {
            m.fh = os::openExclusive(m.path);
        } catch (const Error&) {
            m.closeFile();
            throw;
        }
        if (!replaced)
            fail(E::Io, QStringLiteral("Не удалось заменить %1: %2").arg(m.path, why));
    }
    m.header = head;
    m.data = std::move(packed);
    m.count = live;
    m.written = live;
    m.deleted = 0;
    m.markStale(true);
}

bool Table::locate(QStringView fieldName, const QString& value) {
    const int fi = d->need(fieldName);
    const Field& f = d->fields[size_t(fi)];
    d->ensureView();
    const QString want = value.trimmed();
    double num = 0;
    bool wantNumber = false;
    if (f.numeric && !want.isEmpty()) {
        const QByteArray a = want.toLatin1();
        wantNumber = parseNumber(a.constData(), int(a.size()), num);
        if (!wantNumber)
            return false;
    }
    for (size_t i = 0; i < d->view.size(); ++i) {
        const char* r = d->rec(d->view[i]);
        bool hit;
        if (f.numeric) {
            double v;
            const bool has = parseNumber(r + f.offset, f.def.width, v);
            hit = wantNumber ? (has && v == num) : !has;
        } else {
            hit = d->textOf(r, f).trimmed() == want;
        }
        if (hit) {
            d->setCur(int(i));
            return true;
        }
    }
    return false;
}

bool Table::locate(const char* field, const QString& value) {
    return locate(QString::fromLatin1(field), value);
}

// ---- index tags -------------------------------------------------------------

void Table::createIndexTag(const QString& tag, QStringView field, bool descending) {
    d->requireOpen();
    const QString key = tag.trimmed().toUpper();
    if (key.isEmpty())
        fail(E::Usage, QStringLiteral("Пустое имя индекса"));
    const int fi = d->need(field);
    d->tags[key] = Impl::Tag{tag.trimmed(), fi, descending};
    if (d->currentTag == key)
        d->markStale(false);
}

void Table::createIndexTag(const QString& tag, const char* field, bool descending) {
    createIndexTag(tag, QString::fromLatin1(field), descending);
}

void Table::selectIndex(const QString& tag) {
    d->requireOpen();
    const QString key = tag.trimmed().toUpper();
    if (!key.isEmpty() && !d->tags.count(key))
        fail(E::Usage, QStringLiteral("Нет индекса %1").arg(tag));
    if (d->currentTag == key)
        return;
    d->ensureView();  // settle the cursor's record, then keep it across the change
    d->currentTag = key;
    d->markStale(false);
}

QString Table::currentIndex() const {
    if (d->currentTag.isEmpty())
        return QString();
    return d->tags.at(d->currentTag).name;
}

void Table::deleteIndexTag(const QString& tag) {
    d->requireOpen();
    const QString key = tag.trimmed().toUpper();
    auto it = d->tags.find(key);
    if (it == d->tags.end())
        fail(E::Usage, QStringLiteral("Нет индекса %1").arg(tag));
    d->tags.erase(it);
    if (d->currentTag == key) {
        d->currentTag.clear();
        d->markStale(false);
    }
}

QStringList Table::indexTags() const {
    QStringList out;
    for (const auto& [key, t] : d->tags)
        out << t.name;
    return out;
}

}  // namespace dbf
