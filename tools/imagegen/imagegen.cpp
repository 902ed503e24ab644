// Draws the program's bitmaps and icon and writes them as .bmp and .ico files.
// Host program: build with the host compiler (see make-images.sh).
// Usage: imagegen OUTPUT_DIR
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Rgb {
    double r, g, b;
};

// A 24-bit picture, rows top-down in memory.
struct Picture {
    int width;
    int height;
    std::vector<Rgb> pixels;
};

Picture MakePicture(int width, int height, Rgb ground)
{
    return Picture{width, height, std::vector<Rgb>(size_t(width) * height, ground)};
}

Rgb& At(Picture& p, int x, int y)
{
    return p.pixels[size_t(y) * p.width + x];
}

Rgb Mix(Rgb a, Rgb b, double t)
{
    return Rgb{a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

double Clamp01(double v)
{
    return v < 0 ? 0 : (v > 1 ? 1 : v);
}

uint8_t Channel(double v)
{
    long n = std::lround(v);
    return uint8_t(n < 0 ? 0 : (n > 255 ? 255 : n));
}

void Put16(std::vector<uint8_t>& out, unsigned v)
{
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

// BITMAPINFOHEADER of an uncompressed bottom-up picture.
void PutInfoHeader(std::vector<uint8_t>& out, int width, int height, int bits,
                   uint32_t imageSize, uint32_t coloursUsed)
{
    Put32(out, 40);
    Put32(out, uint32_t(width));
    Put32(out, uint32_t(height));
    Put16(out, 1);
    Put16(out, unsigned(bits));
    Put32(out, 0);  // BI_RGB
    Put32(out, imageSize);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, coloursUsed);
    Put32(out, 0);
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& data)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::perror(path.c_str());
        return false;
    }
    bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    ok = std::fclose(f) == 0 && ok;
    if (!ok)
        std::fprintf(stderr, "%s: write failed\n", path.c_str());
    return ok;
}

// A .bmp file: file header, info header, 24-bit rows bottom-up padded to 4 bytes.
bool WriteBmp(const std::string& path, const Picture& p)
{
    const uint32_t stride = (uint32_t(p.width) * 3 + 3) & ~3u;
    const uint32_t imageSize = stride * uint32_t(p.height);
    std::vector<uint8_t> out;
    out.push_back('B');
    out.push_back('M');
    Put32(out, 14 + 40 + imageSize);
    Put32(out, 0);
    Put32(out, 14 + 40);
    PutInfoHeader(out, p.width, p.height, 24, imageSize, 0);
    for (int y = p.height - 1; y >= 0; --y) {
        size_t rowStart = out.size();
        for (int x = 0; x < p.width; ++x) {
            const Rgb& c = p.pixels[size_t(y) * p.width + x];
            out.push_back(Channel(c.b));
            out.push_back(Channel(c.g));
            out.push_back(Channel(c.r));
        }
        while (out.size() - rowStart < stride)
            out.push_back(0);
    }
    return WriteFile(path, out);
}

const Rgb WHITE = {255, 255, 255};
const Rgb SENSOR_GROUND = {19, 36, 39};

// An LED seen from above: a disc filling the 64 x 64 square, flat in the middle,
// darkening a little towards the edge and fading into the white ground at its rim.
Picture DrawLed(Rgb centre, Rgb edge)
{
    Picture p = MakePicture(64, 64, WHITE);
    const double c = 31.5, radius = 32.0, fade = 7.0;
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            double d = std::hypot(x - c, y - c);
            double body = Clamp01((d - 6.0) / (radius - fade - 6.0));
            Rgb colour = Mix(centre, edge, body * body);
            At(p, x, y) = Mix(colour, WHITE, Clamp01((d - (radius - fade)) / fade));
        }
    }
    return p;
}

// The sensor lamp: a blue disc 42 px across on the dark ground, edge smoothed over one pixel.
Picture DrawSensor(bool active)
{
    Picture p = MakePicture(64, 64, SENSOR_GROUND);
    if (!active)
        return p;
    const Rgb blue = {16, 2, 204};
    const double c = 31.5, radius = 21.0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            At(p, x, y) = Mix(blue, SENSOR_GROUND, Clamp01(std::hypot(x - c, y - c) - radius + 0.5));
    return p;
}

// Block letters on a 5 x 7 grid, one string per row, '#' for a filled cell.
struct Glyph {
    char letter;
    const char* rows[7];
};

const Glyph GLYPHS[] = {
    {'T', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
    {'R', {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}},
    {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'V', {"#...#", "#...#", "#...#", "#...#", ".#.#.", ".#.#.", "..#.."}},
    {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
    {'K', {"#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"}},
};

const Glyph* FindGlyph(char letter)
{
    for (const Glyph& g : GLYPHS)
        if (g.letter == letter)
            return &g;
    return nullptr;
}

void FillRect(Picture& p, int x0, int y0, int w, int h, Rgb colour)
{
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x)
            if (x >= 0 && y >= 0 && x < p.width && y < p.height)
                At(p, x, y) = colour;
}

// The banner: the program's name in dark blue block letters with a soft grey
// shadow on white, a red rule under it with a row of LED dots at each end.
Picture DrawBanner()
{
    Picture p = MakePicture(391, 62, WHITE);
    const char* name = "TRAVEK";
    const int cell = 6, gap = 10, letterWidth = 5 * cell;
    const int count = 6;
    const int textWidth = count * letterWidth + (count - 1) * gap;
    const int left = (p.width - textWidth) / 2, top = 6;
    const Rgb ink = {20, 40, 110}, shadow = {200, 204, 214}, rule = {200, 20, 10};
    for (int pass = 0; pass < 2; ++pass) {
        int shift = pass == 0 ? 3 : 0;
        Rgb colour = pass == 0 ? shadow : ink;
        for (int i = 0; i < count; ++i) {
            const Glyph* g = FindGlyph(name[i]);
            int gx = left + i * (letterWidth + gap);
            for (int row = 0; row < 7; ++row)
                for (int col = 0; col < 5; ++col)
                    if (g->rows[row][col] == '#')
                        FillRect(p, gx + col * cell + shift, top + row * cell + shift, cell, cell, colour);
        }
    }
    FillRect(p, left, 53, textWidth, 3, rule);
    for (int i = 0; i < 4; ++i) {
        double cy = 27.5;
        for (double cx : {20.5 + 18 * i, 370.5 - 18 * i}) {
            for (int y = 0; y < p.height; ++y)
                for (int x = 0; x < p.width; ++x) {
                    double d = std::hypot(x - cx, y - cy);
                    if (d < 7.0)
                        At(p, x, y) = Mix(Rgb{238, 14, 4}, WHITE, Clamp01(d - 6.0));
                }
        }
    }
    return p;
}

// The icon: a red LED seen from the side, dome and collar, with two grey leads,
// in the standard 16-colour palette, transparent around it.
constexpr int ICON_SIDE = 32;
typedef int IconPixels[ICON_SIDE][ICON_SIDE];  // palette indexes, ICON_TRANSPARENT around
enum { ICON_TRANSPARENT = -1, BLACK = 0, DARK_RED = 1, DARK_GREY = 8, GREY = 7, RED = 9, WHITE_INDEX = 15 };
constexpr int LEADS_TOP = 23;  // rows from here down are the leads, never outlined

void DrawLed(IconPixels image)
{
    for (int y = 0; y < ICON_SIDE; ++y)
        for (int x = 0; x < ICON_SIDE; ++x) {
            image[y][x] = ICON_TRANSPARENT;
            double cx = x + 0.5 - 16.0;
            bool dome = y < 12 && std::hypot(cx, y + 0.5 - 12.0) < 9.0;
            bool body = y >= 12 && y < 20 && std::fabs(cx) < 9.0;
            bool collar = y >= 20 && y < LEADS_TOP && std::fabs(cx) < 11.0;
            bool leads = y >= LEADS_TOP && y < 31 && (x == 11 || x == 12 || x == 19 || x == 20);
            if (dome || body)
                image[y][x] = cx > 4.0 ? DARK_RED : RED;
            if (collar)
                image[y][x] = DARK_RED;
            if (leads)
                image[y][x] = x < 16 ? GREY : DARK_GREY;
            bool highlight = (x == 11 || x == 12) && y >= 7 && y < 15;
            if (highlight)
                image[y][x] = WHITE_INDEX;
        }
}

// Outlines every drawn pixel that touches the transparent surround, leads excepted.
void Outline(const IconPixels image, IconPixels outlined)
{
    for (int y = 0; y < ICON_SIDE; ++y)
        for (int x = 0; x < ICON_SIDE; ++x) {
            outlined[y][x] = image[y][x];
            if (image[y][x] == ICON_TRANSPARENT || y >= LEADS_TOP)
                continue;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    int nx = x + dx, ny = y + dy;
                    if (nx < 0 || ny < 0 || nx >= ICON_SIDE || ny >= ICON_SIDE ||
                        image[ny][nx] == ICON_TRANSPARENT)
                        outlined[y][x] = BLACK;
                }
        }
}

// The colour bits (4 per pixel) and the transparency mask, bottom row first.
void PutIconPixels(std::vector<uint8_t>& out, const IconPixels p)
{
    for (int y = ICON_SIDE - 1; y >= 0; --y)
        for (int x = 0; x < ICON_SIDE; x += 2) {
            int hi = p[y][x] < 0 ? 0 : p[y][x];
            int lo = p[y][x + 1] < 0 ? 0 : p[y][x + 1];
            out.push_back(uint8_t(hi << 4 | lo));
        }
    for (int y = ICON_SIDE - 1; y >= 0; --y)
        for (int x = 0; x < ICON_SIDE; x += 8) {
            uint8_t bits = 0;
            for (int i = 0; i < 8; ++i)
                if (p[y][x + i] < 0)
                    bits |= uint8_t(0x80 >> i);
            out.push_back(bits);
        }
}

bool WriteIcon(const std::string& path)
{
    static const uint8_t PALETTE[16][3] = {  // R, G, B
        {0, 0, 0},     {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
        {0, 0, 128},   {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
        {128, 128, 128}, {255, 0, 0}, {0, 255, 0},   {255, 255, 0},
        {0, 0, 255},   {255, 0, 255}, {0, 255, 255}, {255, 255, 255},
    };
    IconPixels image, outlined;
    DrawLed(image);
    Outline(image, outlined);

    const uint32_t xorSize = 32 * 32 / 2, andSize = 32 * 4;
    const uint32_t imageBytes = 40 + 16 * 4 + xorSize + andSize;  // 744
    std::vector<uint8_t> out;
    Put16(out, 0);  // ICONDIR
    Put16(out, 1);
    Put16(out, 1);
    out.push_back(32);  // ICONDIRENTRY
    out.push_back(32);
    out.push_back(16);
    out.push_back(0);
    Put16(out, 1);
    Put16(out, 4);
    Put32(out, imageBytes);
    Put32(out, 6 + 16);
    PutInfoHeader(out, 32, 64, 4, xorSize + andSize, 0);
    for (const auto& c : PALETTE) {
        out.push_back(c[2]);
        out.push_back(c[1]);
        out.push_back(c[0]);
        out.push_back(0);
    }
    PutIconPixels(out, outlined);
    if (out.size() != 6 + 16 + imageBytes) {
        std::fprintf(stderr, "%s: unexpected size %zu\n", path.c_str(), out.size());
        return false;
    }
    return WriteFile(path, out);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const std::string dir = std::string(argv[1]) + "/";
    bool ok = WriteBmp(dir + "led_on.bmp", DrawLed(Rgb{238, 14, 4}, Rgb{214, 8, 2}));
    ok = WriteBmp(dir + "led_off.bmp", DrawLed(Rgb{125, 34, 9}, Rgb{104, 26, 6})) && ok;
    ok = WriteBmp(dir + "sensor_active.bmp", DrawSensor(true)) && ok;
    ok = WriteBmp(dir + "sensor_idle.bmp", DrawSensor(false)) && ok;
    ok = WriteBmp(dir + "banner.bmp", DrawBanner()) && ok;
    ok = WriteIcon(dir + "logo.ico") && ok;
    return ok ? 0 : 1;
}
