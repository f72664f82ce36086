#pragma once
// CPU trilinear grading of pixels through a LUT's nodes (thumbnails).
//
// Source and destination have `channels` components per pixel (3 or 4; any
// other count writes nothing) and are walked in step; the destination gets R,
// G, B and, with 4 channels, alpha 1.0. `lut` is Lut::getData() with
// `dimSize` nodes per axis; a null array or dimSize 0 writes nothing. With
// useRange each input x becomes (x - rangeMin) / (rangeMax - rangeMin) first.
// A NaN input counts as 0, so no input can address a node outside the array.
// dimSize is an int: the .cube format allows 256 nodes, one more than a byte holds.
// The 8-bit variant reads each component as value / 255.
void applyLutCPUTrilinear(const float* src, float* dst, const float* lut, float rangeMin, float rangeMax,
                          bool useRange, int dimSize, int pixels, int channels);
void applyLutCPUTrilinear(const unsigned char* src, float* dst, const float* lut, float rangeMin,
                          float rangeMax, bool useRange, int dimSize, int pixels, int channels);
