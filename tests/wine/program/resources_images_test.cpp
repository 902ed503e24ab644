// The bitmaps and the icon compiled into Travek.exe, read raw from the file
// beside this test.
#include <gtest/gtest.h>
#include <windows.h>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include "dlgtemplate.h"
#include "resourceview.h"

namespace {

// ---------------------------------------------------------------- bitmaps

struct Rgb {
    int r, g, b;
};

bool operator==(const Rgb& a, const Rgb& b)
{
    return a.r == b.r && a.g == b.g && a.b == b.b;
}

void PrintTo(const Rgb& c, std::ostream* os)
{
    *os << "RGB(" << c.r << ", " << c.g << ", " << c.b << ")";
}

bool Near(Rgb a, Rgb b, int tolerance)
{
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

struct Dib {
    BITMAPINFOHEADER header;
    const BYTE* bits;
    DWORD stride;
};

Dib ReadDib(Blob b)
{
    Dib d;
    std::memcpy(&d.header, b.data, sizeof d.header);
    d.bits = b.data + sizeof d.header;
    d.stride = (static_cast<DWORD>(d.header.biWidth) * 3 + 3) & ~3u;
    return d;
}

// Pixel (x, y) counted from the top-left corner; rows are stored bottom-up.
Rgb PixelAt(const Dib& d, int x, int y)
{
    const BYTE* p = d.bits + (d.header.biHeight - 1 - y) * d.stride + x * 3;
    return Rgb{p[2], p[1], p[0]};
}

const Rgb WHITE = {255, 255, 255};
const Rgb SENSOR_GROUND = {19, 36, 39};

class Bitmaps : public Resources {
protected:
    Dib Load(int id, DWORD size, int width, int height)
    {
        Blob b = FindBlob(TYPE_BITMAP, MAKEINTRESOURCEW(id));
        EXPECT_NE(b.data, nullptr) << id;
        if (!b.data)
            return Dib{};
        EXPECT_EQ(b.size, size) << id;
        Dib d = ReadDib(b);
        const BITMAPINFOHEADER& h = d.header;
        EXPECT_EQ(h.biSize, 40u) << id;
        EXPECT_EQ(h.biWidth, width) << id;
        EXPECT_EQ(h.biHeight, height) << id;  // positive: bottom-up
        EXPECT_EQ(h.biPlanes, 1) << id;
        EXPECT_EQ(h.biBitCount, 24) << id;
        EXPECT_EQ(h.biCompression, static_cast<DWORD>(BI_RGB)) << id;
        EXPECT_EQ(h.biClrUsed, 0u) << id;  // no colour table
        EXPECT_EQ(40 + d.stride * height, size) << id;
        return d;
    }
    void ExpectCorners(const Dib& d, Rgb colour, int id)
    {
        int w = d.header.biWidth, h = d.header.biHeight;
        EXPECT_EQ(PixelAt(d, 0, 0), colour) << id;
        EXPECT_EQ(PixelAt(d, w - 1, 0), colour) << id;
        EXPECT_EQ(PixelAt(d, 0, h - 1), colour) << id;
        EXPECT_EQ(PixelAt(d, w - 1, h - 1), colour) << id;
    }
};

TEST_F(Bitmaps, LedDiscsFillTheSquareOnWhite)
{
    struct Case {
        int id;
        Rgb centre;
    } cases[] = { { 105, { 238, 14, 4 } }, { 106, { 125, 34, 9 } } };
    for (const Case& c : cases) {
        Dib d = Load(c.id, 12328, 64, 64);
        if (!d.bits)
            continue;
        for (int x = 30; x <= 33; ++x)
            for (int y = 30; y <= 33; ++y)
                EXPECT_TRUE(Near(PixelAt(d, x, y), c.centre, 6))
                    << c.id << " at " << x << "," << y << ": "
                    << ::testing::PrintToString(PixelAt(d, x, y));
        ExpectCorners(d, WHITE, c.id);
        // The disc reaches the middle of every edge, its rim fading: tinged, not white.
        Rgb edges[] = { PixelAt(d, 31, 1), PixelAt(d, 31, 62), PixelAt(d, 1, 31), PixelAt(d, 62, 31) };
        for (const Rgb& e : edges) {
            EXPECT_FALSE(e == WHITE) << c.id;
            EXPECT_GT(e.g, c.centre.g) << c.id;  // lighter than the centre
        }
        // Softly: several pixels of the rim lie between the disc and the white.
        int between = 0;
        for (int x = 32; x < 64; ++x) {
            int g = PixelAt(d, x, 31).g;
            between += g > c.centre.g + 20 && g < 235;
        }
        EXPECT_GE(between, 3) << c.id;
    }
}

TEST_F(Bitmaps, ActiveSensorIsABlueDiscAbout42PixelsAcrossOnTheGround)
{
    Dib d = Load(107, 12328, 64, 64);
    if (!d.bits)
        return;
    const Rgb blue = {16, 2, 204};
    EXPECT_TRUE(Near(PixelAt(d, 31, 31), blue, 6)) << ::testing::PrintToString(PixelAt(d, 31, 31));
    EXPECT_TRUE(Near(PixelAt(d, 32, 32), blue, 6));
    ExpectCorners(d, SENSOR_GROUND, 107);
    for (int i = 0; i < 64; ++i) {  // ground along the border
        EXPECT_EQ(PixelAt(d, i, 0), SENSOR_GROUND);
        EXPECT_EQ(PixelAt(d, 0, i), SENSOR_GROUND);
        EXPECT_EQ(PixelAt(d, i, 63), SENSOR_GROUND);
        EXPECT_EQ(PixelAt(d, 63, i), SENSOR_GROUND);
    }
    int across = 0, down = 0;
    for (int i = 0; i < 64; ++i) {
        across += PixelAt(d, i, 31).b > 120;
        down += PixelAt(d, 31, i).b > 120;
    }
    EXPECT_NEAR(across, 42, 2);
    EXPECT_NEAR(down, 42, 2);
}

TEST_F(Bitmaps, IdleSensorIsThePlainGround)
{
    Dib d = Load(108, 12328, 64, 64);
    if (!d.bits)
        return;
    int other = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            other += !(PixelAt(d, x, y) == SENSOR_GROUND);
    EXPECT_EQ(other, 0);
}

TEST_F(Bitmaps, BannerIs391By62WithPaddedRows)
{
    Dib d = Load(114, 72952, 391, 62);
    if (!d.bits)
        return;
    EXPECT_EQ(d.stride, 1176u);
    ExpectCorners(d, WHITE, 114);
    int dark = 0, paddingSet = 0;
    for (int y = 0; y < 62; ++y) {
        for (int x = 0; x < 391; ++x) {
            Rgb c = PixelAt(d, x, y);
            dark += c.r + c.g + c.b < 300;
        }
        const BYTE* row = d.bits + y * d.stride;
        paddingSet += row[1173] | row[1174] | row[1175];
    }
    EXPECT_GT(dark, 2000);  // the lettering
    EXPECT_EQ(paddingSet, 0);
}

// ---------------------------------------------------------------- icon

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

TEST_F(Resources, LogoGroupHasOne32By32SixteenColourIcon)
{
    Blob group = FindBlob(TYPE_GROUP_ICON, L"Logo");  // names match without regard to case
    ASSERT_NE(group.data, nullptr);
    ASSERT_EQ(group.size, 6 + sizeof(GroupIconEntry));
    Reader r{group.data, group.size, 0, false};
    EXPECT_EQ(ReadWord(r), 0);
    EXPECT_EQ(ReadWord(r), 1);  // icons
    EXPECT_EQ(ReadWord(r), 1);  // one entry
    GroupIconEntry e;
    std::memcpy(&e, group.data + 6, sizeof e);
    EXPECT_EQ(e.width, 32);
    EXPECT_EQ(e.height, 32);
    EXPECT_EQ(e.colours, 16);
    EXPECT_EQ(e.planes, 1);
    EXPECT_EQ(e.bitCount, 4);
    EXPECT_EQ(e.bytes, 744u);
    EXPECT_EQ(e.id, 1);

    Blob icon = FindBlob(TYPE_ICON, MAKEINTRESOURCEW(1));
    ASSERT_NE(icon.data, nullptr);
    ASSERT_EQ(icon.size, 744u);  // header, 16 colours, 4-bit image, 1-bit mask
    BITMAPINFOHEADER h;
    std::memcpy(&h, icon.data, sizeof h);
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 32);
    EXPECT_EQ(h.biHeight, 64);  // image and mask
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 4);
    EXPECT_EQ(h.biCompression, static_cast<DWORD>(BI_RGB));
    static const DWORD STANDARD[16] = {
        0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
        0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
    };
    for (int i = 0; i < 16; ++i) {
        DWORD entry;  // RGBQUAD: blue, green, red, 0
        std::memcpy(&entry, icon.data + 40 + 4 * i, 4);
        EXPECT_EQ(entry, STANDARD[i]) << "palette " << i;
    }
    HICON handle = CreateIconFromResourceEx(const_cast<BYTE*>(icon.data), icon.size, TRUE,
                                            0x00030000, 32, 32, LR_DEFAULTCOLOR);
    EXPECT_NE(handle, nullptr);
    if (handle)
        DestroyIcon(handle);
}

}  // namespace
