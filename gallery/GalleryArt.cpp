// The LUT Manager's two pictures, drawn once by code: the favourite star and
// the folder icon. Hard edges only (alpha 0 or 255), so the alpha threshold of
// their users keeps every pixel of the shape.
#include <cmath>
#include <vector>

#include "gallery/GalleryRules.h"

namespace {

struct Point {
    double x, y;
};

bool insidePolygon(const std::vector<Point>& polygon, double x, double y) {
    bool inside = false;
    for (std::size_t i = 0, j = polygon.size() - 1; i < polygon.size(); j = i++) {
        const Point& a = polygon[i];
        const Point& b = polygon[j];
        if ((a.y > y) != (b.y > y) && x < (b.x - a.x) * (y - a.y) / (b.y - a.y) + a.x) inside = !inside;
    }
    return inside;
}

std::vector<Point> star(double cx, double cy, double outer, double inner) {
    std::vector<Point> points;
    const double pi = std::acos(-1.0);
    for (int k = 0; k < 10; ++k) {
        const double radius = k % 2 ? inner : outer;
        const double angle = -pi / 2 + k * pi / 5;
        points.push_back({cx + radius * std::cos(angle), cy + radius * std::sin(angle)});
    }
    return points;
}

void put(std::vector<unsigned char>& image, int side, int x, int y, unsigned char r, unsigned char g,
         unsigned char b) {
    unsigned char* p = &image[(std::size_t(y) * side + x) * 4];
    p[0] = r, p[1] = g, p[2] = b, p[3] = 255;
}

std::vector<unsigned char> drawStar() {
    std::vector<unsigned char> image(std::size_t(kFavoriteSide) * kFavoriteSide * 4, 0);
    const std::vector<Point> edge = star(128, 134, 124, 50);
    const std::vector<Point> fill = star(128, 134, 100, 40);
    for (int y = 0; y < kFavoriteSide; ++y)
        for (int x = 0; x < kFavoriteSide; ++x) {
            if (insidePolygon(fill, x + 0.5, y + 0.5))
                put(image, kFavoriteSide, x, y, 95, 79, 224);
            else if (insidePolygon(edge, x + 0.5, y + 0.5))
                put(image, kFavoriteSide, x, y, 255, 255, 255);
        }
    return image;
}

std::vector<unsigned char> drawFolder() {
    std::vector<unsigned char> image(std::size_t(kFolderSide) * kFolderSide * 4, 0);
    // Stored bottom row first, as the thumbnails show their first row at the
    // bottom: the tile copies it without a flip.
    for (int y = 0; y < kFolderSide; ++y)
        for (int x = 0; x < kFolderSide; ++x) {
            const int v = kFolderSide - 1 - y;  // row counted from the top
            const bool tab = v >= 18 && v < 28 && x >= 10 && x < 44;
            const bool body = v >= 26 && v < 84 && x >= 8 && x < 92;
            const bool rim = body && (v < 30 || v >= 80 || x < 12 || x >= 88);
            if (rim || tab)
                put(image, kFolderSide, x, y, 150, 150, 150);
            else if (body)
                put(image, kFolderSide, x, y, 190, 190, 190);
        }
    return image;
}

}  // namespace

const std::vector<unsigned char>& favoriteArtwork() {
    static const std::vector<unsigned char> image = drawStar();
    return image;
}

const std::vector<unsigned char>& folderArtwork() {
    static const std::vector<unsigned char> image = drawFolder();
    return image;
}
