// export_artwork: the window's artwork as the Windows build's resource files.
//
// Writes the window's artwork as the Windows resource files, so that the
// Windows build needs no Qt: two 64 x 32 strips for the toolbar's image lists
// (normal and grey, image 1 the power symbol, image 2 the migrate arrow) and
// the window icon at 32 x 32 and 16 x 16.
#include "app/qt/artwork.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes& b, uint16_t v) {
    b.push_back(v & 0xFF);
    b.push_back(v >> 8);
}
void put32(Bytes& b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

// BITMAPINFOHEADER for a bottom-up 32-bit image; `rows` doubles for icons.
void putInfoHeader(Bytes& b, int width, int rows, uint32_t imageSize) {
    put32(b, 40);
    put32(b, width);
    put32(b, rows);
    put16(b, 1);
    put16(b, 32);
    put32(b, 0);  // BI_RGB: the fourth byte is straight (not premultiplied) alpha
    put32(b, imageSize);
    put32(b, 2835);  // 72 dpi
    put32(b, 2835);
    put32(b, 0);
    put32(b, 0);
}

void putPixels(Bytes& b, const QImage& image) {
    for (int y = image.height() - 1; y >= 0; --y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            b.push_back(qBlue(p));
            b.push_back(qGreen(p));
            b.push_back(qRed(p));
            b.push_back(qAlpha(p));
        }
}

Bytes bmp(const QImage& image) {
    Bytes pixels;
    putPixels(pixels, image);
    Bytes b;
    b.push_back('B');
    b.push_back('M');
    put32(b, 14 + 40 + pixels.size());
    put32(b, 0);
    put32(b, 14 + 40);
    putInfoHeader(b, image.width(), image.height(), pixels.size());
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

Bytes iconImage(const QImage& image) {
    Bytes pixels;
    putPixels(pixels, image);
    // The AND mask, one bit a pixel, rows padded to 32 bits: set where fully transparent.
    const int stride = (image.width() + 31) / 32 * 4;
    Bytes mask(stride * image.height(), 0);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) == 0) mask[(image.height() - 1 - y) * stride + x / 8] |= 0x80 >> (x % 8);
    Bytes b;
    putInfoHeader(b, image.width(), image.height() * 2, pixels.size() + mask.size());
    b.insert(b.end(), pixels.begin(), pixels.end());
    b.insert(b.end(), mask.begin(), mask.end());
    return b;
}

Bytes ico(const std::vector<QImage>& images) {
    std::vector<Bytes> data;
    for (const QImage& i : images) data.push_back(iconImage(i));
    Bytes b;
    put16(b, 0);
    put16(b, 1);
    put16(b, images.size());
    uint32_t offset = 6 + 16 * images.size();
    for (size_t i = 0; i < images.size(); ++i) {
        b.push_back(images[i].width());
        b.push_back(images[i].height());
        b.push_back(0);
        b.push_back(0);
        put16(b, 1);
        put16(b, 32);
        put32(b, data[i].size());
        put32(b, offset);
        offset += data[i].size();
    }
    for (const Bytes& d : data) b.insert(b.end(), d.begin(), d.end());
    return b;
}

QImage strip(const QPixmap& first, const QPixmap& second) {
    QImage image(64, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawPixmap(0, 0, first);
    p.drawPixmap(32, 0, second);
    return image;
}

bool write(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: export_artwork <output folder>\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    using namespace jor::app;
    const std::string folder = argv[1];
    const QPixmap power = powerImage(), migrate = migrateImage();
    const QImage icon = migrate.toImage().convertToFormat(QImage::Format_ARGB32);
    const bool ok = write(folder + "/toolbar.bmp", bmp(strip(power, migrate))) &&
                    write(folder + "/toolbar_disabled.bmp", bmp(strip(greyImage(power), greyImage(migrate)))) &&
                    write(folder + "/jor-orvek.ico",
                          ico({icon, icon.scaled(16, 16, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)}));
    return ok ? 0 : 1;
}
