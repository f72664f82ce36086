#pragma once
// The one in-memory form of a 3D colour look-up table.
//
// Nodes are N^3 RGBA float32 quadruples (A = 1.0), red index fastest.
// lutNodeOffset() is the single statement of that order: every reader,
// writer, applier and GPU upload goes through it.
#include <cstddef>
#include <string>
#include <vector>

constexpr std::size_t lutNodeOffset(std::size_t n, std::size_t r, std::size_t g, std::size_t b) {
    return ((b * n + g) * n + r) * 4;
}

struct ColorLut {
    float r = 0.0f;
    float g = 0.0f;
    float b = 0.0f;
    ColorLut() = default;
    ColorLut(float r_, float g_, float b_) : r(r_), g(g_), b(b_) {}
};

class Lut {
public:
    // Largest N for which 4*N^3 floats still fit in an int.
    static constexpr int kMaxDimSize = 812;

    Lut();
    // The online service's binary LUT: 88-byte header (N at byte 12, little-endian), N^3 RGB bytes.
    Lut(const unsigned char* bytes, int length);
    // Adopting constructors: the Lut becomes the owner of the node array (4*dimSize^3 floats).
    Lut(std::vector<float> data, int dimSize, float inputRange0, float inputRange1);
    Lut(std::vector<float> data, int dimSize, float inputRange0, float inputRange1, std::string filePath);

    const float* getData() const { return data.empty() ? nullptr : data.data(); }
    float* getData() { return data.empty() ? nullptr : data.data(); }
    std::string getFilePath() const { return filePath; }
    int getDimSize() const { return dimSize; }
    float getInputRange0() const { return inputRange0; }
    float getInputRange1() const { return inputRange1; }
    bool isLoaded() const { return loaded; }
    int totalSize() const { return dimSize * dimSize * dimSize; }

    // i is the blue index (slowest), j green, k red (fastest).
    int getIndex(int i, int j, int k) const { return static_cast<int>(lutNodeOffset(dimSize, k, j, i)); }
    ColorLut getIndexedColor(int i, int j, int k) const;
    void setIndexedColor(int i, int j, int k, ColorLut c);
    void setIndexedValues(int i, int j, int k, float r, float g, float b);

    // type 0 reads .cube, type 1 reads .3dl, anything else gives the empty Lut.
    // Neither reads nor changes *this.
    Lut loadFromFile(std::string path, std::string& presetText, bool skipPreset, int type) const;
    Lut loadFromFileCUBE(std::string path, std::string& presetText, bool skipPreset) const;
    Lut loadFromFile3DLC(std::string path, std::string& presetText, bool skipPreset) const;

private:
    bool loaded = false;
    std::vector<float> data;
    float inputRange0 = 0.0f;
    float inputRange1 = 1.0f;
    int dimSize = 0;
    std::string filePath;
};
