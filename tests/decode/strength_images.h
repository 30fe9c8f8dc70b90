#pragma once
// Strength-result images for tests, written out byte by byte in the order
// the instrument stores them.
#include <QByteArray>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace strength_images {

using Image = std::vector<uint8_t>;

inline void add(Image& img, std::initializer_list<int> v)
{
    for (int x : v)
        img.push_back(uint8_t(x));
}
inline void add16(Image& img, int v) { add(img, {v & 0xFF, (v >> 8) & 0xFF}); }

// A 47-byte record: R x10, direction, Kc x100, product (basic) or dependence
// (individual), material (basic) or product (individual), V x10, St x100,
// class code, age-and-condition byte, time s m h, date d m y, readings x10.
inline void rec47(Image& img, int r10, int dir, int kc, int b4, int b5, int v10, int st, int cls, int age,
                  std::array<int, 3> time, std::array<int, 3> date, std::vector<int> readings = {})
{
    add16(img, r10);
    add(img, {dir, kc, b4, b5, v10});
    add16(img, st);
    add(img, {cls, age, time[0], time[1], time[2], date[0], date[1], date[2]});
    readings.resize(15);
    for (int w : readings)
        add16(img, w);
}

// A 30-byte record: ten reading words, flags, Kc x100, value x100, date
// d m y, time h m.
inline void rec30(Image& img, std::vector<int> readings, int flags, int kc, int r100, std::array<int, 3> date,
                  std::array<int, 2> time)
{
    readings.resize(10);
    for (int w : readings)
        add16(img, w);
    add(img, {flags});
    add16(img, kc);
    add16(img, r100);
    add(img, {date[0], date[1], date[2], time[0], time[1]});
}

inline QByteArray bytesOf(const Image& img)
{
    return QByteArray(reinterpret_cast<const char*>(img.data()), qsizetype(img.size()));
}

}  // namespace strength_images
