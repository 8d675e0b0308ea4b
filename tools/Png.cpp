#include "Png.h"

#include <array>
#include <cstring>

namespace png {

namespace {

class BitWriter {
public:
    // Deflate packs bits from the least significant end.
    void bits(std::uint32_t value, int count)
    {
        for (int i = 0; i < count; ++i) {
            acc_ |= ((value >> i) & 1u) << n_;
            if (++n_ == 8)
                flushByte();
        }
    }
    // Huffman codes go out most significant bit first.
    void code(std::uint32_t value, int count)
    {
        for (int i = count - 1; i >= 0; --i) {
            acc_ |= ((value >> i) & 1u) << n_;
            if (++n_ == 8)
                flushByte();
        }
    }
    std::vector<std::uint8_t> finish()
    {
        if (n_ > 0)
            flushByte();
        return std::move(out_);
    }

private:
    void flushByte()
    {
        out_.push_back(std::uint8_t(acc_));
        acc_ = 0;
        n_ = 0;
    }
    std::vector<std::uint8_t> out_;
    std::uint32_t acc_ = 0;
    int n_ = 0;
};

void literal(BitWriter& w, unsigned v)
{
    if (v <= 143)
        w.code(0x30 + v, 8);
    else if (v <= 255)
        w.code(0x190 + (v - 144), 9);
    else if (v <= 279)
        w.code(v - 256, 7);
    else
        w.code(0xC0 + (v - 280), 8);
}

constexpr std::array<int, 29> kLengthBase{3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                          31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<int, 29> kLengthExtra{0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<int, 30> kDistBase{1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                        33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                        1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<int, 30> kDistExtra{0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                         6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

void match(BitWriter& w, int length, int distance)
{
    int i = 28;
    while (kLengthBase[std::size_t(i)] > length)
        --i;
    literal(w, unsigned(257 + i));
    w.bits(std::uint32_t(length - kLengthBase[std::size_t(i)]), kLengthExtra[std::size_t(i)]);
    int d = 29;
    while (kDistBase[std::size_t(d)] > distance)
        --d;
    w.code(std::uint32_t(d), 5);
    w.bits(std::uint32_t(distance - kDistBase[std::size_t(d)]), kDistExtra[std::size_t(d)]);
}

std::uint32_t adler32(const std::vector<std::uint8_t>& data)
{
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t v : data) {
        a = (a + v) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

void put32be(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    out.push_back(std::uint8_t(v >> 24));
    out.push_back(std::uint8_t(v >> 16));
    out.push_back(std::uint8_t(v >> 8));
    out.push_back(std::uint8_t(v));
}

void chunk(std::vector<std::uint8_t>& out, const char* type, const std::vector<std::uint8_t>& body)
{
    put32be(out, std::uint32_t(body.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), body.begin(), body.end());
    put32be(out, crc32(out.data() + start, out.size() - start));
}

} // namespace

std::uint32_t crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc)
{
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::vector<std::uint8_t> zlibCompress(const std::vector<std::uint8_t>& data)
{
    constexpr int kWindow = 32768, kMaxLen = 258, kMinLen = 3, kChain = 64;
    constexpr std::size_t kHashSize = 1 << 15;
    std::vector<int> head(kHashSize, -1), prev(data.size(), -1);
    auto hashAt = [&](std::size_t i) {
        return ((std::size_t(data[i]) << 10) ^ (std::size_t(data[i + 1]) << 5) ^ data[i + 2]) & (kHashSize - 1);
    };
    auto insert = [&](std::size_t i) {
        if (i + 2 < data.size()) {
            const std::size_t h = hashAt(i);
            prev[i] = head[h];
            head[h] = int(i);
        }
    };

    BitWriter w;
    w.bits(1, 1); // the one and only block
    w.bits(1, 2); // fixed Huffman codes
    std::size_t i = 0;
    while (i < data.size()) {
        int bestLen = 0, bestDist = 0;
        if (i + kMinLen <= data.size()) {
            int candidate = head[hashAt(i)];
            for (int tries = 0; candidate >= 0 && tries < kChain; ++tries, candidate = prev[std::size_t(candidate)]) {
                const int dist = int(i) - candidate;
                if (dist > kWindow)
                    break;
                int len = 0;
                const int limit = int(std::min<std::size_t>(kMaxLen, data.size() - i));
                while (len < limit && data[std::size_t(candidate + len)] == data[i + std::size_t(len)])
                    ++len;
                if (len > bestLen) {
                    bestLen = len;
                    bestDist = dist;
                    if (len == limit)
                        break;
                }
            }
        }
        if (bestLen >= kMinLen) {
            match(w, bestLen, bestDist);
            for (int k = 0; k < bestLen; ++k)
                insert(i + std::size_t(k));
            i += std::size_t(bestLen);
        } else {
            literal(w, data[i]);
            insert(i);
            ++i;
        }
    }
    literal(w, 256);

    std::vector<std::uint8_t> out{0x78, 0x01};
    const std::vector<std::uint8_t> body = w.finish();
    out.insert(out.end(), body.begin(), body.end());
    put32be(out, adler32(data));
    return out;
}

std::vector<std::uint8_t> encodeRgba(int width, int height, const std::vector<std::uint8_t>& rgba)
{
    const std::size_t stride = std::size_t(width) * 4;
    std::vector<std::uint8_t> raw;
    raw.reserve((stride + 1) * std::size_t(height));
    for (int y = 0; y < height; ++y) {
        raw.push_back(0); // no filter: repeated rows are found by the matcher anyway
        const auto row = rgba.begin() + std::ptrdiff_t(std::size_t(y) * stride);
        raw.insert(raw.end(), row, row + std::ptrdiff_t(stride));
    }

    std::vector<std::uint8_t> out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> ihdr;
    put32be(ihdr, std::uint32_t(width));
    put32be(ihdr, std::uint32_t(height));
    ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0}); // 8-bit RGBA, deflate, no filter set, no interlace
    chunk(out, "IHDR", ihdr);
    chunk(out, "IDAT", zlibCompress(raw));
    chunk(out, "IEND", {});
    return out;
}

} // namespace png
