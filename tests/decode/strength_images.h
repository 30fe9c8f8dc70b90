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

// A 46-byte basic record: as the 47-byte one, with the age-and-condition
// byte at offset 9, offset 10 unused and no room for reading 15's high byte.
inline void rec46(Image& img, int r10, int dir, int kc, int product, int material, int v10, int age, int unused,
                  std::array<int, 3> time, std::array<int, 3> date, std::vector<int> readings = {})
{
    rec47(img, r10, dir, kc, product, material, v10, 0, age, unused, time, date, readings);
    img.pop_back();
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

// A result image of `basic` and `individual` records (basic records of L =
// 47 or 46 bytes), or of `basic` 30-byte records when L is 30; record k has
// codes, date, time and readings of its own, all in range.
inline Image resultImage(int L, int basic, int individual = 0)
{
    Image img;
    auto time = [](int k) { return std::array<int, 3>{k % 60, (5 * k) % 60, 8 + k % 12}; };
    auto date = [](int k) { return std::array<int, 3>{1 + k % 28, 1 + k % 12, 12 + k % 5}; };
    // Up to 14 readings (a 46-byte record has no room for a fifteenth), or
    // up to 10 in a 30-byte record.
    auto readings = [](int k, int scale) {
        std::vector<int> r;
        for (int n = 0; n <= k % (scale == 10 ? 14 : 10); ++n)
            r.push_back((20 + 3 * n + k) * scale);
        return r;
    };
    static const int ages[] = {0, 1, 2, 0x80, 0x81, 0x82};
    add16(img, basic);
    if (L == 30) {
        add16(img, 0);
        for (int k = 0; k < basic; ++k)
            rec30(img, readings(k, 100), (9 - k % 10) << 4 | k % 5, 90 + k, 2000 + 37 * k, date(k),
                  {time(k)[2], time(k)[1]});
        return img;
    }
    for (int k = 0; k < basic; ++k) {
        if (L == 47)
            rec47(img, 150 + 37 * k, k % 5, 90 + k, k % 12, k % 10, 50 + k, 0, (5 * k) % 24, ages[k % 6], time(k),
                  date(k), readings(k, 10));
        else
            rec46(img, 150 + 37 * k, k % 5, 90 + k, k % 12, k % 10, 50 + k, ages[k % 6], 0, time(k), date(k),
                  readings(k, 10));
    }
    add16(img, individual);
    for (int k = 0; k < individual; ++k)
        rec47(img, 250 + 11 * k, (k + 2) % 5, 100 - k, 1 + k, k % 12, 40 + k, 100 * k, (3 + 7 * k) % 24, 0,
              time(k + 30), date(k + 30), readings(k + 3, 10));
    return img;
}

// The image as it lies in a zero-filled memory image of 327,680 bytes.
inline Image padded(Image img)
{
    img.resize(0x50000, 0);
    return img;
}

inline QByteArray bytesOf(const Image& img)
{
    return QByteArray(reinterpret_cast<const char*>(img.data()), qsizetype(img.size()));
}

}  // namespace strength_images
