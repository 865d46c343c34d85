// The PNG encoder, read back by a small independent decoder: chunk CRCs, header, and pixels
// turned top-down and stripped of alpha.
#include "capture/png_writer.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>
#include <zlib.h>

namespace quarvel {
namespace {

using Bytes = std::vector<unsigned char>;

uint32_t bigEndian(const unsigned char* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

struct Decoded {
    uint32_t width = 0, height = 0;
    int idatChunks = 0;
    Bytes rgb;  // top-down
};

// Accepts exactly what a valid 8-bit RGB, non-interlaced PNG with filters 0 and 2 holds.
Decoded decode(const Bytes& file) {
    Decoded out;
    const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    EXPECT_TRUE(file.size() > 8 && std::equal(signature, signature + 8, file.begin()));
    Bytes deflated;
    std::string last;
    for (std::size_t at = 8; at + 12 <= file.size();) {
        const uint32_t size = bigEndian(&file[at]);
        const std::string type(file.begin() + at + 4, file.begin() + at + 8);
        const unsigned char* data = &file[at + 8];
        const uLong crc = crc32(crc32(0, &file[at + 4], 4), data, size);
        EXPECT_EQ(bigEndian(data + size), crc) << type << " chunk CRC";
        if (type == "IHDR") {
            out.width = bigEndian(data);
            out.height = bigEndian(data + 4);
            EXPECT_EQ(Bytes(data + 8, data + 13), (Bytes{8, 2, 0, 0, 0}))
                << "8-bit RGB, deflate, not interlaced";
        } else if (type == "IDAT") {
            deflated.insert(deflated.end(), data, data + size);
            ++out.idatChunks;
        }
        last = type;
        at += 12 + size;
    }
    EXPECT_EQ(last, "IEND");

    const std::size_t stride = 1 + out.width * 3;
    Bytes raw(stride * out.height);
    uLongf rawSize = raw.size();
    EXPECT_EQ(uncompress(raw.data(), &rawSize, deflated.data(), deflated.size()), Z_OK);
    EXPECT_EQ(rawSize, raw.size());
    for (uint32_t y = 0; y < out.height; ++y) {
        const unsigned char filter = raw[y * stride];
        EXPECT_TRUE(filter == 0 || filter == 2) << "filter " << int(filter);
        for (std::size_t i = 0; i < out.width * 3; ++i) {
            unsigned char value = raw[y * stride + 1 + i];
            if (filter == 2 && y > 0)
                value = static_cast<unsigned char>(value + out.rgb[(y - 1) * out.width * 3 + i]);
            out.rgb.push_back(value);
        }
    }
    return out;
}

Bytes encode(PngEncoder& encoder, const Bytes& rgba) {
    std::FILE* file = std::tmpfile();
    EXPECT_TRUE(encoder.write(file, rgba.data()));
    Bytes bytes(static_cast<std::size_t>(std::ftell(file)));
    std::rewind(file);
    EXPECT_EQ(std::fread(bytes.data(), 1, bytes.size(), file), bytes.size());
    std::fclose(file);
    return bytes;
}

TEST(PngEncoderTest, TheFileHoldsTheRowsTopDownWithoutAlpha) {
    constexpr int32_t width = 5;
    constexpr int32_t height = 3;
    Bytes rgba;  // as the GL reads it: row 0 is the bottom one
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            rgba.insert(rgba.end(), {Bytes::value_type(x * 40), Bytes::value_type(y * 80),
                                     Bytes::value_type(250 - x - y), 77});

    PngEncoder encoder(width, height);
    const Decoded decoded = decode(encode(encoder, rgba));
    ASSERT_EQ(decoded.width, 5u);
    ASSERT_EQ(decoded.height, 3u);
    Bytes expected;
    for (int y = height - 1; y >= 0; --y)
        for (int x = 0; x < width; ++x)
            expected.insert(expected.end(), {Bytes::value_type(x * 40), Bytes::value_type(y * 80),
                                             Bytes::value_type(250 - x - y)});
    EXPECT_EQ(decoded.rgb, expected);
}

TEST(PngEncoderTest, ALargeNoisyFrameSpansSeveralChunksAndEncodesTheSameTwice) {
    constexpr int32_t width = 640;
    constexpr int32_t height = 360;
    std::mt19937 random(7);
    Bytes rgba(static_cast<std::size_t>(width) * height * 4);
    for (unsigned char& b : rgba) b = static_cast<unsigned char>(random());

    PngEncoder encoder(width, height);
    const Bytes first = encode(encoder, rgba);
    EXPECT_EQ(encode(encoder, rgba), first) << "an encoder reused for the next frame starts afresh";
    const Decoded decoded = decode(first);
    EXPECT_GT(decoded.idatChunks, 1);
    ASSERT_EQ(decoded.rgb.size(), static_cast<std::size_t>(width) * height * 3);
    for (int32_t y : {0, 1, height - 1})
        for (int32_t x : {0, 17, width - 1})
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(decoded.rgb[(static_cast<std::size_t>(y) * width + x) * 3 + c],
                          rgba[(static_cast<std::size_t>(height - 1 - y) * width + x) * 4 + c]);
}

}  // namespace
}  // namespace quarvel
