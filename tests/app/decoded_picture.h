// The desktop program's tests read stamped files back with libjpeg's own
// decoder, independent of the core: a picture as top-down RGB pixels.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstddef>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

namespace mk::app::test {

// Top-down RGB pixels.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;

    const unsigned char *at(int x, int y) const {
        return rgb.data() + (size_t(y) * size_t(width) + size_t(x)) * 3;
    }
};

// libjpeg's default error handling ends the process, which fails the test.
inline Picture Decode(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray data = file.readAll();
    jpeg_decompress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char *>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    Picture picture;
    picture.width = int(info.output_width);
    picture.height = int(info.output_height);
    picture.rgb.resize(size_t(picture.width) * size_t(picture.height) * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row =
            picture.rgb.data() + size_t(info.output_scanline) * size_t(picture.width) * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return picture;
}

}  // namespace mk::app::test
