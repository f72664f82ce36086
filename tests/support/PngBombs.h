#pragma once
// Small PNG pieces that ask a reader for much memory, and the process's peak
// memory to see whether the reader gave it: chunks with their CRC, and zlib
// streams that inflate a thousand times over.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace quillane::test {

// A whole zlib stream of at least `bytes` letters "a" in 13 bits a 258 (fixed
// codes: one literal, then matches of 258 at distance 1). Not zeros: a PNG
// reader keeps a text only up to its first zero byte.
inline std::vector<unsigned char> zlibBomb(std::size_t bytes) {
    std::vector<unsigned char> out = {0x78, 0x01};
    unsigned bit = 0;
    auto put = [&](unsigned code, int length) {  // Huffman codes go out first bit first
        for (int i = length - 1; i >= 0; --i, ++bit) {
            if (bit % 8 == 0) out.push_back(0);
            out.back() |= static_cast<unsigned char>(((code >> i) & 1) << (bit % 8));
        }
    };
    const unsigned letter = 'a';
    put(0b110, 3);          // BFINAL 1, then BTYPE 1 (fixed codes) low bit first
    put(0x30 + letter, 8);  // the literal
    std::uint64_t n = 1;
    for (; n < bytes; n += 258) put(0xc5, 8), put(0, 5);
    put(0, 7);  // end of block
    // Adler-32 of n letters: sums 1 + letter * i for i = 1..n, and the sum of those.
    const std::uint64_t m = 65521, half = n % 2 == 0 ? (n / 2 % m) * ((n + 1) % m) : (n % m) * ((n + 1) / 2 % m);
    const std::uint64_t a = (1 + letter * (n % m)) % m, b = (n % m + letter * (half % m)) % m;
    const auto adler = static_cast<std::uint32_t>(b << 16 | a);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(adler >> (24 - 8 * i)));
    return out;
}

// A chunk: length, type, data, CRC. `length` stands for the data's own length
// unless given (a chunk header may claim more than the file holds).
inline std::vector<unsigned char> pngChunk(const char* type, const std::vector<unsigned char>& data,
                                           std::uint32_t length) {
    std::vector<unsigned char> chunk(data.size() + 12);
    auto bigEndian = [&](std::size_t at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i) chunk[at + i] = static_cast<unsigned char>(value >> (24 - 8 * i));
    };
    bigEndian(0, length);
    std::copy(type, type + 4, chunk.begin() + 4);
    std::copy(data.begin(), data.end(), chunk.begin() + 8);
    std::uint32_t crc = 0xffffffffu;
    for (std::size_t i = 4; i < data.size() + 8; ++i) {
        crc ^= chunk[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    bigEndian(data.size() + 8, ~crc);
    return chunk;
}
inline std::vector<unsigned char> pngChunk(const char* type, const std::vector<unsigned char>& data) {
    return pngChunk(type, data, static_cast<std::uint32_t>(data.size()));
}

// The most memory this process held at once since the last reset, in bytes.
inline std::size_t peakResidentBytes(bool reset) {
    if (reset) std::ofstream("/proc/self/clear_refs") << "5";
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stoull(line.substr(6)) * 1024;
    return 0;
}

}  // namespace quillane::test
