// The PNG sink, read back with libpng: the frames' names, the rows turned top-down and stripped
// of alpha, the same file twice, and no file left when the folder cannot take it.
#include "capture/png_sink.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <png.h>
#include <random>
#include <stdlib.h>
#include <string>
#include <vector>

namespace quarvel {
namespace {

using Bytes = std::vector<unsigned char>;

struct Decoded {
    uint32_t width = 0, height = 0;
    png_uint_32 format = 0;  // as the file stores it
    Bytes rgb;               // top-down
};

Decoded decode(const std::filesystem::path& file) {
    Decoded out;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    EXPECT_TRUE(png_image_begin_read_from_file(&image, file.c_str())) << file << ": " << image.message;
    out.width = image.width;
    out.height = image.height;
    out.format = image.format;
    image.format = PNG_FORMAT_RGB;
    out.rgb.resize(PNG_IMAGE_SIZE(image));
    EXPECT_TRUE(png_image_finish_read(&image, nullptr, out.rgb.data(), 0, nullptr)) << image.message;
    return out;
}

Bytes contents(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

class PngSinkTest : public testing::Test {
protected:
    void SetUp() override {
        std::string name = (std::filesystem::temp_directory_path() / "png_sink_test_XXXXXX").string();
        ASSERT_NE(mkdtemp(name.data()), nullptr);
        folder_ = name;
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    FramePattern pattern(const std::string& name) const {
        const ParsedCommandLine parsed = parseCaptureOptions({(folder_ / name).string()});
        EXPECT_TRUE(parsed.status.ok) << parsed.status.message;
        return parsed.options.pattern;
    }

    std::filesystem::path folder_;
};

TEST_F(PngSinkTest, TheFileHoldsTheRowsTopDownWithoutAlpha) {
    constexpr int32_t width = 5;
    constexpr int32_t height = 3;
    Bytes rgba;  // as the GL reads it: row 0 is the bottom one
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            rgba.insert(rgba.end(), {Bytes::value_type(x * 40), Bytes::value_type(y * 80),
                                     Bytes::value_type(250 - x - y), 77});

    PngSink sink(pattern("f%02d.png"), width, height);
    ASSERT_TRUE(sink.write(7, rgba.data()).ok);
    ASSERT_TRUE(sink.finish().ok);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_), {}), 1) << "no .part left";
    const Decoded decoded = decode(folder_ / "f07.png");
    EXPECT_EQ(decoded.format, PNG_FORMAT_RGB) << "8-bit RGB, no alpha";
    ASSERT_EQ(decoded.width, 5u);
    ASSERT_EQ(decoded.height, 3u);
    Bytes expected;
    for (int y = height - 1; y >= 0; --y)
        for (int x = 0; x < width; ++x)
            expected.insert(expected.end(), {Bytes::value_type(x * 40), Bytes::value_type(y * 80),
                                             Bytes::value_type(250 - x - y)});
    EXPECT_EQ(decoded.rgb, expected);
}

TEST_F(PngSinkTest, ALargeNoisyFrameEncodesTheSameTwice) {
    constexpr int32_t width = 640;
    constexpr int32_t height = 360;
    std::mt19937 random(7);
    Bytes rgba(static_cast<std::size_t>(width) * height * 4);
    for (unsigned char& b : rgba) b = static_cast<unsigned char>(random());

    PngSink sink(pattern("f%d.png"), width, height);
    ASSERT_TRUE(sink.write(0, rgba.data()).ok);
    ASSERT_TRUE(sink.write(1, rgba.data()).ok);
    EXPECT_EQ(contents(folder_ / "f1.png"), contents(folder_ / "f0.png"))
        << "the sink reused for the next frame starts afresh";
    const Decoded decoded = decode(folder_ / "f0.png");
    ASSERT_EQ(decoded.rgb.size(), static_cast<std::size_t>(width) * height * 3);
    for (int32_t y : {0, 1, height - 1})
        for (int32_t x : {0, 17, width - 1})
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(decoded.rgb[(static_cast<std::size_t>(y) * width + x) * 3 + c],
                          rgba[(static_cast<std::size_t>(height - 1 - y) * width + x) * 4 + c]);
}

TEST_F(PngSinkTest, AFrameThatCannotBeWrittenFailsAndLeavesNothing) {
    const Bytes rgba(4 * 4 * 4, 128);
    PngSink missing(pattern("gone/f%d.png"), 4, 4);
    const Status status = missing.write(0, rgba.data());
    EXPECT_FALSE(status.ok);
    EXPECT_NE(status.message.find("gone/f0.png.part"), std::string::npos) << status.message;

    // a full disk: every write fails once libpng flushes
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    std::filesystem::create_symlink("/dev/full", folder_ / "full.png.part");
    PngSink full(pattern("full.png"), 4, 4);
    const Status noSpace = full.write(0, rgba.data());
    EXPECT_FALSE(noSpace.ok);
    EXPECT_NE(noSpace.message.find("cannot write"), std::string::npos) << noSpace.message;
    EXPECT_FALSE(std::filesystem::exists(folder_ / "full.png"));
}

}  // namespace
}  // namespace quarvel
