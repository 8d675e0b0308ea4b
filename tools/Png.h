#pragma once

// A small PNG writer for the icon generator. It carries its own deflate
// (fixed Huffman codes, greedy matching) so that the same picture always
// gives the same bytes, whatever zlib the machine has.

#include <cstdint>
#include <vector>

namespace png {

// Raw deflate stream wrapped in a zlib header and Adler-32 trailer.
std::vector<std::uint8_t> zlibCompress(const std::vector<std::uint8_t>& data);

// 8-bit RGBA, row by row, four bytes a pixel.
std::vector<std::uint8_t> encodeRgba(int width, int height, const std::vector<std::uint8_t>& rgba);

std::uint32_t crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0);

} // namespace png
