#include "mail/basPicture.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <turbojpeg.h>

#include <climits>
#include <csignal>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <sys/resource.h>
#include <unistd.h>

namespace {

std::vector<unsigned char> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Decoded {
    int width = 0, height = 0;
    std::vector<unsigned char> bgrx;
    QRgb at(int x, int y) const {
        const unsigned char* p = &bgrx[(size_t(y) * size_t(width) + size_t(x)) * 4];
        return qRgb(p[2], p[1], p[0]);
    }
};

// Decodes with the library's decompressor, so the file is checked by a reader and not by the
// code that wrote it.
Decoded decodeJpeg(const std::vector<unsigned char>& jpeg) {
    Decoded d;
    tjhandle h = tjInitDecompress();
    int sub = 0, colorspace = 0;
    if (tjDecompressHeader3(h, jpeg.data(), jpeg.size(), &d.width, &d.height, &sub, &colorspace) ==
        0) {
        d.bgrx.resize(size_t(d.width) * size_t(d.height) * 4);
        if (tjDecompress2(h, jpeg.data(), jpeg.size(), d.bgrx.data(), d.width, 0, d.height,
                          TJPF_BGRX, 0) != 0)
            d = Decoded{};
    }
    tjDestroy(h);
    return d;
}

bool near(QRgb a, QRgb b, int tolerance) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance &&
           std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

// A frame as the detector hands it over: BGRX rows with the fourth byte 0.
QImage frameWithZeroFillerBytes(int w, int h, const std::function<QRgb(int, int)>& colour) {
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(img.scanLine(y));
        for (int x = 0; x < w; ++x)
            row[x] = colour(x, y) & 0x00FFFFFFu;
    }
    return img;
}

TEST(PictureSize, TableAndOutOfRangeValues) {
    const struct {
        int choice, width, height;
    } cases[] = {{0, 640, 480},  {1, 320, 240},  {2, 110, 82},        {3, 640, 480},
                 {-1, 640, 480}, {-2, 640, 480}, {INT_MIN, 640, 480}, {INT_MAX, 640, 480}};
    for (const auto& c : cases) {
        const PictureDimensions d = PictureSize(c.choice);
        EXPECT_EQ(d.width, c.width) << c.choice;
        EXPECT_EQ(d.height, c.height) << c.choice;
    }
}

// Nearest neighbour: a 2x2 checker blown up to 4x4 is four solid 2x2 blocks of exactly the
// source colours; nothing is blended at the seams.
TEST(ScalePicture, EnlargesWithoutBlending) {
    const QRgb colours[2][2] = {{qRgb(255, 0, 0), qRgb(0, 255, 0)},
                                {qRgb(0, 0, 255), qRgb(255, 255, 255)}};
    const QImage src = frameWithZeroFillerBytes(2, 2, [&](int x, int y) { return colours[y][x]; });
    QImage target(7, 3, QImage::Format_Mono); // the old shape and format must not survive
    ScalePicture(src, target, 4, 4);
    ASSERT_EQ(target.width(), 4);
    ASSERT_EQ(target.height(), 4);
    EXPECT_EQ(target.format(), QImage::Format_RGB32);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(target.pixel(x, y), colours[y / 2][x / 2] | 0xFF000000u) << x << "," << y;
}

// Every target pixel is a copy of one source pixel: with colours that encode their own
// coordinates, each target pixel names a source pixel, columns and rows advance monotonically,
// and the picked pixels spread across the whole source (both when shrinking and stretching).
TEST(ScalePicture, EveryTargetPixelIsASourcePixel) {
    const struct {
        int sw, sh, tw, th;
    } cases[] = {{640, 480, 110, 82}, {640, 480, 320, 240}, {160, 120, 640, 480},
                 {3, 5, 110, 82},     {255, 1, 7, 9},       {1, 1, 5, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.sw) + "x" + std::to_string(c.sh) + " -> " +
                     std::to_string(c.tw) + "x" + std::to_string(c.th));
        // Red and the low half of green hold x, blue and the high half of green hold y.
        const QImage src = frameWithZeroFillerBytes(c.sw, c.sh, [](int x, int y) {
            return qRgb(x & 0xFF, (x >> 8) | ((y >> 8) << 4), y & 0xFF);
        });
        QImage target;
        ScalePicture(src, target, c.th, c.tw);
        ASSERT_EQ(target.size(), QSize(c.tw, c.th));
        int lastY = -1;
        for (int y = 0; y < c.th; ++y) {
            int lastX = -1;
            int rowY = -1;
            for (int x = 0; x < c.tw; ++x) {
                const QRgb p = target.pixel(x, y);
                const int sx = qRed(p) | ((qGreen(p) & 0xF) << 8);
                const int sy = qBlue(p) | ((qGreen(p) >> 4) << 8);
                ASSERT_LT(sx, c.sw);
                ASSERT_LT(sy, c.sh);
                ASSERT_GE(sx, lastX);
                if (rowY >= 0) {
                    ASSERT_EQ(sy, rowY); // one source row per target row
                }
                rowY = sy;
                lastX = sx;
                EXPECT_EQ(qAlpha(p), 255);
            }
            ASSERT_GE(rowY, lastY);
            lastY = rowY;
            // Shrinking must reach into the last source columns, not only the first ones.
            EXPECT_GE(lastX, c.sw - 1 - c.sw / c.tw);
        }
        EXPECT_GE(lastY, c.sh - 1 - c.sh / c.th);
    }
}

TEST(ScalePicture, DegenerateSizesAndSources) {
    QImage target(5, 5, QImage::Format_RGB32);
    ScalePicture(QImage(), target, 4, 6);
    ASSERT_EQ(target.size(), QSize(6, 4));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(target.pixel(x, y), qRgb(0, 0, 0));

    const QImage src = frameWithZeroFillerBytes(4, 4, [](int, int) { return qRgb(9, 9, 9); });
    for (auto [h, w] : {std::pair{0, 10}, {10, 0}, {-1, 10}, {10, -5}}) {
        QImage t(3, 3, QImage::Format_RGB32);
        ScalePicture(src, t, h, w);
        EXPECT_TRUE(t.isNull()) << h << "x" << w;
    }

    // Other source formats are read as their colours.
    QImage indexed(2, 1, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(10, 20, 30), qRgb(200, 100, 50)});
    indexed.setPixel(0, 0, 0);
    indexed.setPixel(1, 0, 1);
    ScalePicture(indexed, target, 1, 4);
    EXPECT_EQ(target.pixel(0, 0), qRgb(10, 20, 30));
    EXPECT_EQ(target.pixel(3, 0), qRgb(200, 100, 50));
}

class JpegFile : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    std::string path(const char* name) const {
        return QDir(dir.path()).filePath(name).toStdString();
    }
    QTemporaryDir dir;

    // Four solid quadrants, the way an alarm frame scaled to a mail size looks to the encoder.
    static QImage quadrants(int w, int h) {
        return frameWithZeroFillerBytes(w, h, [w, h](int x, int y) {
            const bool right = x >= w / 2, bottom = y >= h / 2;
            return right ? (bottom ? qRgb(240, 240, 240) : qRgb(20, 200, 20))
                         : (bottom ? qRgb(20, 20, 200) : qRgb(200, 20, 20));
        });
    }
};

// Each mail size comes out as a JPEG of exactly that size whose colours are the surface's.
TEST_F(JpegFile, WritesDecodableJpegOfTheGivenSize) {
    for (int choice : {0, 1, 2}) {
        const PictureDimensions d = PictureSize(choice);
        const std::string file = path(("size" + std::to_string(choice) + ".jpg").c_str());
        ASSERT_EQ(DCSavetoJPEG(quadrants(d.width, d.height), d.width, d.height, file + '\0', 80, 0),
                  0);
        const std::vector<unsigned char> bytes = readFile(file);
        ASSERT_GT(bytes.size(), 4u);
        EXPECT_EQ(bytes[0], 0xFF);
        EXPECT_EQ(bytes[1], 0xD8);
        EXPECT_EQ(bytes[bytes.size() - 2], 0xFF);
        EXPECT_EQ(bytes[bytes.size() - 1], 0xD9);
        const Decoded img = decodeJpeg(bytes);
        ASSERT_EQ(img.width, d.width);
        ASSERT_EQ(img.height, d.height);
        EXPECT_TRUE(near(img.at(d.width / 4, d.height / 4), qRgb(200, 20, 20), 16));
        EXPECT_TRUE(near(img.at(3 * d.width / 4, d.height / 4), qRgb(20, 200, 20), 16));
        EXPECT_TRUE(near(img.at(d.width / 4, 3 * d.height / 4), qRgb(20, 20, 200), 16));
        EXPECT_TRUE(near(img.at(3 * d.width / 4, 3 * d.height / 4), qRgb(240, 240, 240), 16));

        // A second, independent reader agrees on the format and the size.
        const QString identify = QStandardPaths::findExecutable("identify");
        if (identify.isEmpty())
            continue;
        QProcess p;
        p.start(identify, {"-format", "%m %w %h", QString::fromStdString(file)});
        ASSERT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 0);
        EXPECT_EQ(p.readAllStandardOutput().trimmed().toStdString(),
                  "JPEG " + std::to_string(d.width) + " " + std::to_string(d.height));
    }
}

// Only the top-left width x height of a larger surface is written.
TEST_F(JpegFile, WritesTopLeftPartOfLargerSurface) {
    const std::string file = path("part.jpg");
    ASSERT_EQ(DCSavetoJPEG(quadrants(200, 100), 50, 30, file, 90, 0), 0);
    const Decoded img = decodeJpeg(readFile(file));
    ASSERT_EQ(img.width, 50);
    ASSERT_EQ(img.height, 30);
    EXPECT_TRUE(near(img.at(25, 15), qRgb(200, 20, 20), 16));
}

// Quality 0 is the lowest quality, the same file as quality 1; higher qualities grow the file.
TEST_F(JpegFile, QualityZeroIsLowest) {
    std::mt19937 rng(5);
    const QImage noisy =
        frameWithZeroFillerBytes(110, 82, [&](int, int) { return QRgb(rng() & 0xFFFFFF); });
    ASSERT_EQ(DCSavetoJPEG(noisy, 110, 82, path("q0.jpg"), 0, 0), 0);
    ASSERT_EQ(DCSavetoJPEG(noisy, 110, 82, path("q1.jpg"), 1, 0), 0);
    ASSERT_EQ(DCSavetoJPEG(noisy, 110, 82, path("q100.jpg"), 100, 0), 0);
    ASSERT_EQ(DCSavetoJPEG(noisy, 110, 82, path("q255.jpg"), 255, 0), 0);
    EXPECT_EQ(readFile(path("q0.jpg")), readFile(path("q1.jpg")));
    EXPECT_EQ(readFile(path("q255.jpg")), readFile(path("q100.jpg")));
    EXPECT_LT(readFile(path("q1.jpg")).size(), readFile(path("q100.jpg")).size());
}

// The name ends at the first NUL: nothing after it becomes part of the file name.
TEST_F(JpegFile, PathEndsAtFirstNul) {
    const QImage img = quadrants(16, 16);
    ASSERT_EQ(DCSavetoJPEG(img, 16, 16, path("nul.jpg") + std::string("\0junk", 5), 50, 0), 0);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(path("nul.jpg"))));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"nul.jpg"});
}

TEST_F(JpegFile, FailureCodes) {
    const QImage img = quadrants(32, 24);
    // 1: the file cannot be opened (missing folder, empty name); nothing is created.
    EXPECT_EQ(DCSavetoJPEG(img, 32, 24, path("missing/dir/x.jpg") + '\0', 50, 0), 1);
    EXPECT_EQ(DCSavetoJPEG(img, 32, 24, std::string("\0", 1), 50, 0), 1);
    EXPECT_EQ(DCSavetoJPEG(img, 32, 24, dir.path().toStdString(), 50, 0), 1); // a folder
    // 2: nothing usable to write; no file is left behind.
    EXPECT_EQ(DCSavetoJPEG(QImage(), 32, 24, path("a.jpg"), 50, 0), 2);
    EXPECT_EQ(DCSavetoJPEG(img, 33, 24, path("b.jpg"), 50, 0), 2);
    EXPECT_EQ(DCSavetoJPEG(img, 32, 0, path("c.jpg"), 50, 0), 2);
    EXPECT_EQ(DCSavetoJPEG(img, -1, 24, path("d.jpg"), 50, 0), 2);
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());
}

// A device that accepts the open but has no room: the write fails and that is reported, not
// success. /dev/full is never removed.
TEST_F(JpegFile, FullDeviceReportsCannotWrite) {
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "/dev/full not writable here";
    EXPECT_EQ(DCSavetoJPEG(quadrants(110, 82), 110, 82, std::string("/dev/full") + '\0', 50, 0), 2);
    EXPECT_EQ(access("/dev/full", F_OK), 0);
}

// A regular file that cannot be written whole (here the process's file-size limit stands in
// for a full disk) gives 2 and leaves no truncated picture behind.
TEST_F(JpegFile, TruncatedWriteRemovesPartialFile) {
    std::mt19937 rng(11);
    const QImage noisy =
        frameWithZeroFillerBytes(640, 480, [&](int, int) { return QRgb(rng() & 0xFFFFFF); });
    struct sigaction ignore {
    }, old{};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(sigaction(SIGXFSZ, &ignore, &old), 0);
    rlimit oldLimit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &oldLimit), 0);
    rlimit small = oldLimit;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int rc = DCSavetoJPEG(noisy, 640, 480, path("big.jpg"), 90, 0);
    setrlimit(RLIMIT_FSIZE, &oldLimit);
    sigaction(SIGXFSZ, &old, nullptr);
    EXPECT_EQ(rc, 2);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path("big.jpg"))));
}

} // namespace
