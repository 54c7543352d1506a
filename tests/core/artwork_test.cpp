// Checks the skin bitmaps and the icon in res/: their file layout and the look the windows rely on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadRes(const std::string& name) {
    std::ifstream in(std::string(MERVASTX_RES_DIR) + "/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint32_t U16(const Bytes& d, std::size_t at) { return d[at] | d[at + 1] << 8; }
std::uint32_t U32(const Bytes& d, std::size_t at) { return U16(d, at) | U16(d, at + 2) << 16; }

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};
std::ostream& operator<<(std::ostream& out, const Rgb& c) { return out << c.r << "," << c.g << "," << c.b; }

Rgb Entry(const Bytes& d, std::size_t table, unsigned index) {
    const std::size_t at = table + 4 * index;
    return {d[at + 2], d[at + 1], d[at]};
}

const std::uint32_t BMP_PIXELS = 14 + 40 + 256 * 4;

struct Field {
    std::uint32_t at, bytes, want;
    const char* what;
};
void ExpectFields(const Bytes& d, std::initializer_list<Field> fields) {
    for (const Field& f : fields) {
        const std::uint32_t got = f.bytes == 1 ? d[f.at] : f.bytes == 2 ? U16(d, f.at) : U32(d, f.at);
        EXPECT_EQ(got, f.want) << f.what;
    }
}

// An 8-bit bottom-up bitmap read as it lies on disk; At() counts y from the top.
struct Bitmap {
    Bytes d;
    bool Plain() const {
        return d.size() >= BMP_PIXELS && U16(d, 28) == 8 && width() > 0 && height() > 0 &&
               d.size() == BMP_PIXELS + static_cast<std::size_t>((width() + 3) & ~3) * height();
    }
    int width() const { return static_cast<int>(U32(d, 18)); }
    int height() const { return static_cast<int>(U32(d, 22)); }
    Rgb At(int x, int y) const {
        const int stride = (width() + 3) & ~3;
        return Entry(d, 54, d[BMP_PIXELS + static_cast<std::size_t>((height() - 1 - y) * stride + x)]);
    }
};

bool LimeYellow(Rgb c) { return c.r >= 0xD0 && c.g >= 0xD0 && c.b <= 0x70 && std::abs(c.r - c.g) < 0x10; }
bool Charcoal(Rgb c) { return c.r == c.g && c.g == c.b && c.r >= 0x20 && c.r <= 0x50; }
const Rgb WHITE{255, 255, 255}, BLACK{0, 0, 0}, MID_GREY{128, 128, 128};

struct BitmapCase {
    const char* file;
    int width, height;
    bool top, left, right, bottom;  // which edges carry the frame line
};

const BitmapCase BITMAPS[] = {
    {"main_skin.bmp", 326, 277, false, true, true, true},
    {"about_badge.bmp", 134, 38, false, true, false, true},
    {"minimize.bmp", 11, 12, true, true, false, true},
    {"close.bmp", 12, 12, true, true, true, true},
    {"main_title.bmp", 303, 12, true, true, false, true},
    {"add_contact_skin.bmp", 192, 137, false, true, true, true},
    {"add_contact_title.bmp", 192, 12, true, true, true, true},
    {"about_skin.bmp", 201, 212, false, true, true, true},
    {"about_title.bmp", 201, 12, true, true, true, true},
};

// Controls in window pixels as the templates place them; faces start 11 pixels down.
enum Kind { FIELD, BUTTON, DEFAULT_BUTTON };
struct ControlCase {
    const char* file;
    const char* control;
    Kind kind;
    int x, y, width, height;
};
const int FACE_TOP = 11;
const ControlCase CONTROLS[] = {
    {"main_skin.bmp", "IDC_MESSAGE", FIELD, 15, 163, 294, 55},
    {"main_skin.bmp", "IDC_FROM", FIELD, 227, 36, 84, 21},
    {"main_skin.bmp", "IDC_CALLBACK", FIELD, 227, 62, 84, 21},
    {"main_skin.bmp", "IDC_PHONE", FIELD, 227, 88, 84, 21},
    {"main_skin.bmp", "IDC_CHAR_COUNT", FIELD, 263, 224, 33, 21},
    {"main_skin.bmp", "IDC_CARRIER", FIELD, 227, 114, 84, 21},
    {"main_skin.bmp", "IDC_CONTACTS", FIELD, 15, 36, 122, 72},
    {"main_skin.bmp", "IDC_SEND", BUTTON, 225, 254, 84, 24},
    {"main_skin.bmp", "IDC_CLEAR", BUTTON, 15, 223, 69, 24},
    {"main_skin.bmp", "IDC_REMOVE", BUTTON, 74, 112, 63, 24},
    {"main_skin.bmp", "IDC_ADD", BUTTON, 15, 112, 53, 24},
    {"add_contact_skin.bmp", "IDC_CONTACT_NAME", FIELD, 65, 26, 114, 23},
    {"add_contact_skin.bmp", "IDC_CONTACT_NUMBER", FIELD, 65, 52, 113, 23},
    {"add_contact_skin.bmp", "IDC_CONTACT_CARRIER", FIELD, 65, 80, 84, 21},
    {"add_contact_skin.bmp", "IDOK", DEFAULT_BUTTON, 12, 109, 75, 23},
    {"add_contact_skin.bmp", "IDCANCEL", BUTTON, 102, 109, 75, 23},
    {"about_skin.bmp", "IDOK", DEFAULT_BUTTON, 114, 185, 75, 23},
};

}  // namespace

TEST(ArtworkBitmaps, HeadersSizesAndColourTable) {
    for (const BitmapCase& c : BITMAPS) {
        SCOPED_TRACE(c.file);
        const Bytes d = ReadRes(c.file);
        ASSERT_GE(d.size(), BMP_PIXELS);
        const std::uint32_t imageSize = ((c.width + 3) & ~3) * c.height;
        EXPECT_EQ(U16(d, 0), static_cast<std::uint32_t>('B' | 'M' << 8));
        ExpectFields(d, {{2, 4, static_cast<std::uint32_t>(d.size()), "file size"},
                         {6, 4, 0, "reserved"},
                         {10, 4, BMP_PIXELS, "pixel offset"},
                         {14, 4, 40, "info header size"},
                         {18, 4, static_cast<std::uint32_t>(c.width), "width"},
                         {22, 4, static_cast<std::uint32_t>(c.height), "height, positive for bottom-up rows"},
                         {26, 2, 1, "planes"},
                         {28, 2, 8, "bits per pixel"},
                         {30, 4, 0, "compression"},
                         {38, 4, 0, "horizontal resolution"},
                         {42, 4, 0, "vertical resolution"}});
        EXPECT_TRUE(U32(d, 34) == 0 || U32(d, 34) == imageSize) << U32(d, 34);
        EXPECT_TRUE(U32(d, 46) == 0 || U32(d, 46) == 256) << U32(d, 46);
        EXPECT_EQ(d.size(), BMP_PIXELS + imageSize);
    }
}

TEST(ArtworkBitmaps, FramedInLimeYellowOnCharcoal) {
    for (const BitmapCase& c : BITMAPS) {
        SCOPED_TRACE(c.file);
        const Bitmap bmp{ReadRes(c.file)};
        ASSERT_TRUE(bmp.Plain());
        for (int x = 0; x < c.width; ++x) {
            EXPECT_TRUE(!c.top || LimeYellow(bmp.At(x, 0))) << "top x=" << x;
            EXPECT_TRUE(!c.bottom || LimeYellow(bmp.At(x, c.height - 1))) << "bottom x=" << x;
        }
        for (int y = 0; y < c.height; ++y) {
            EXPECT_TRUE(!c.left || LimeYellow(bmp.At(0, y))) << "left y=" << y;
            EXPECT_TRUE(!c.right || LimeYellow(bmp.At(c.width - 1, y))) << "right y=" << y;
        }
        // Just inside the bottom-left corner the ground shows.
        EXPECT_TRUE(Charcoal(bmp.At(1, c.height - 2))) << bmp.At(1, c.height - 2);
    }
    // The grooves repeat every 6 rows and run from dark to light grey.
    const Bitmap face{ReadRes("main_skin.bmp")};
    ASSERT_TRUE(face.Plain());
    int darkest = 255, lightest = 0;
    for (int y = 20; y < 80; ++y) {
        EXPECT_TRUE(Charcoal(face.At(5, y))) << "y=" << y << ": " << face.At(5, y);
        EXPECT_EQ(face.At(5, y), face.At(5, y + 6)) << "y=" << y;
        darkest = std::min(darkest, face.At(5, y).r);
        lightest = std::max(lightest, face.At(5, y).r);
    }
    EXPECT_LE(darkest, 0x2A);
    EXPECT_GE(lightest, 0x45);
}

TEST(ArtworkBitmaps, PaintedFieldsAndButtonsLieUnderTheirControls) {
    for (const ControlCase& c : CONTROLS) {
        SCOPED_TRACE(std::string(c.file) + " " + c.control);
        const Bitmap bmp{ReadRes(c.file)};
        ASSERT_TRUE(bmp.Plain());
        const int left = c.x, top = c.y - FACE_TOP, right = left + c.width - 1, bottom = top + c.height - 1;
        const int midY = (top + bottom) / 2;
        if (c.kind == FIELD) {
            EXPECT_EQ(bmp.At((left + right) / 2, midY), WHITE);
            EXPECT_FALSE(bmp.At(left, midY) == WHITE);    // sunken edge on the left
            EXPECT_EQ(bmp.At(right, midY), MID_GREY);      // and on the right
            EXPECT_EQ(bmp.At(left + 2, bottom), MID_GREY);
            EXPECT_FALSE(bmp.At(left - 1, midY) == WHITE);  // nothing white spills past the box
            continue;
        }
        EXPECT_EQ(bmp.At(left, midY), BLACK);
        EXPECT_EQ(bmp.At(right, midY), BLACK);
        EXPECT_EQ(bmp.At(left + 1, midY), WHITE);
        EXPECT_EQ(bmp.At(left + 4, top), BLACK);
        EXPECT_EQ(bmp.At(left + 4, bottom), BLACK);
        EXPECT_EQ(bmp.At(left + 2, top + 2), MID_GREY);
        // Only a default button carries the dotted focus line, 3 pixels in.
        int dots = 0;
        for (int x = left + 3; x < left + 13; ++x) {
            const bool dot = bmp.At(x, top + 3) == BLACK;
            dots += dot;
            EXPECT_FALSE(dot && bmp.At(x + 1, top + 3) == BLACK) << "x=" << x;
        }
        EXPECT_EQ(dots, c.kind == DEFAULT_BUTTON ? 5 : 0);
    }
}

TEST(ArtworkBitmaps, AboutBadgeIsTheMainSkinsLogoCorner) {
    const Bitmap face{ReadRes("main_skin.bmp")}, badge{ReadRes("about_badge.bmp")};
    ASSERT_TRUE(face.Plain() && face.width() == 326 && face.height() == 277);
    ASSERT_TRUE(badge.Plain() && badge.width() == 134 && badge.height() == 38);
    int mismatches = 0;
    for (int y = 0; y < 38; ++y)
        for (int x = 0; x < 134; ++x) mismatches += !(badge.At(x, y) == face.At(x, 239 + y));
    EXPECT_EQ(mismatches, 0);
    // The corner holds the logo, not bare ground.
    int colourful = 0;
    for (int y = 0; y < 38; ++y)
        for (int x = 1; x < 134; ++x) colourful += badge.At(x, y).b > badge.At(x, y).r + 0x40;
    EXPECT_GT(colourful, 50);
}

TEST(ArtworkIcon, OneSixteenColourImageWithMask) {
    const Bytes d = ReadRes("mervasTX.ico");
    const std::uint32_t header = 22, table = header + 40, xor_ = table + 16 * 4, and_ = xor_ + 32 * 16;
    ASSERT_EQ(d.size(), and_ + 32 * 4);
    ExpectFields(d, {{0, 2, 0, "reserved"},
                     {2, 2, 1, "type icon"},
                     {4, 2, 1, "image count"},
                     {6, 2, 32 | 32 << 8, "width and height"},
                     {8, 1, 16, "colour count"},
                     {12, 2, 4, "entry bits per pixel"},
                     {14, 4, static_cast<std::uint32_t>(d.size() - header), "image bytes"},
                     {18, 4, header, "image offset"},
                     {header, 4, 40, "info header size"},
                     {header + 4, 4, 32, "width"},
                     {header + 8, 4, 64, "height of colour image and mask together"},
                     {header + 14, 2, 4, "bits per pixel"},
                     {header + 16, 4, 0, "compression"}});
    const Rgb vga[16] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                         {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                         {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                         {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
    for (unsigned i = 0; i < 16; ++i) EXPECT_EQ(Entry(d, table, i), vga[i]) << "entry " << i;

    int transparent = 0, seen[16] = {};
    for (int i = 0; i < 32 * 32; ++i) {
        const bool clear = d[and_ + i / 8] >> (7 - i % 8) & 1;
        const int colour = d[xor_ + i / 2] >> (i % 2 ? 0 : 4) & 0xF;
        transparent += clear;
        if (clear) {
            EXPECT_EQ(colour, 0) << "pixel " << i;  // so the mask alone decides
        } else {
            ++seen[colour];
        }
    }
    EXPECT_GT(transparent, 0);
    EXPECT_LT(transparent, 32 * 32);
    for (int colour : {0, 11, 12, 15}) EXPECT_GT(seen[colour], 10) << "colour " << colour;  // black, yellow, blue, white
}
