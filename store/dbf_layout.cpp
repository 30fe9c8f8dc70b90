// The table file's header bytes (see dbf_layout.h).
#include "store/dbf_layout.h"

#include <QDate>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace dbf::detail {

// Today as the header's YY MM DD.  Reading the local date costs a time-zone
// lookup, so it is done at most once a second (posts come in bursts).
QByteArray todayBytes() {
    thread_local QByteArray cached;
    thread_local std::chrono::steady_clock::time_point when;
    const auto now = std::chrono::steady_clock::now();
    if (cached.isEmpty() || now - when > std::chrono::seconds(1)) {
        const QDate d = QDate::currentDate();
        QByteArray b(3, 0);
        b[0] = char(std::clamp(d.year() - 1900, 0, 255));
        b[1] = char(d.month());
        b[2] = char(d.day());
        cached = b;
        when = now;
    }
    return cached;
}

void put16(char* p, quint32 v) {
    p[0] = char(v & 0xFF);
    p[1] = char((v >> 8) & 0xFF);
}
void put32(char* p, quint32 v) {
    for (int i = 0; i < 4; ++i)
        p[i] = char((v >> (8 * i)) & 0xFF);
}
quint32 get16(const char* p) { return quint32(uint8_t(p[0])) | quint32(uint8_t(p[1])) << 8; }
quint32 get32(const char* p) {
    return quint32(uint8_t(p[0])) | quint32(uint8_t(p[1])) << 8 | quint32(uint8_t(p[2])) << 16 |
           quint32(uint8_t(p[3])) << 24;
}

bool acceptedVersion(uint8_t v) {
    switch (v) {
    case 0x03: case 0x43: case 0x63: case 0x83: case 0x8B: case 0xCB: case 0xF5:
        return true;
    default:
        return false;
    }
}

// Builds the header (with terminator) of a table with these fields.
QByteArray buildHeader(const std::vector<FieldDef>& fields, uint8_t ldid, quint32 count) {
    const int n = int(fields.size());
    const int headerLen = 32 + 32 * n + 1;
    int recLen = 1;
    for (const FieldDef& f : fields)
        recLen += f.width;
    QByteArray h(headerLen, '\0');
    h[0] = 0x03;
    const QByteArray today = todayBytes();
    std::memcpy(h.data() + 1, today.constData(), 3);
    put32(h.data() + 4, count);
    put16(h.data() + 8, quint32(headerLen));
    put16(h.data() + 10, quint32(recLen));
    h[29] = char(ldid);
    for (int i = 0; i < n; ++i) {
        char* d = h.data() + 32 + 32 * i;
        const QByteArray name = fields[size_t(i)].name.toUpper().toLatin1();
        std::memcpy(d, name.constData(), size_t(std::min<qsizetype>(name.size(), 10)));
        d[11] = fields[size_t(i)].type;
        d[16] = char(fields[size_t(i)].width);
        d[17] = char(fields[size_t(i)].type == 'C' ? 0 : fields[size_t(i)].decimals);
    }
    h[headerLen - 1] = 0x0D;
    return h;
}

}  // namespace dbf::detail
