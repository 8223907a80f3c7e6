// What the window's gauge (175 x 17, single border, navy on white) must look like, for every
// painter of it: the Qt widget's pictures and the GDI one's are held to the same expectations.
// A picture is read through a function giving the colour at a pixel as 0xRRGGBB.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <set>

namespace GaugePictures {

using TPixels = std::function<uint32_t(int x, int y)>;

constexpr uint32_t Black = 0x000000;
constexpr uint32_t White = 0xFFFFFF;
constexpr uint32_t Navy = 0x000080;
constexpr uint32_t LightYellow = 0xFFFF7F; // white text over navy

constexpr int Width = 175;
constexpr int Height = 17;

// The bar alone (no text): columns 1 to LastNavyColumn navy, the rest of the inside white.
struct TBarCase {
    int Percent;
    int LastNavyColumn; // 0: none
};
inline constexpr TBarCase BarCases[] = {{0, 0}, {1, 0}, {2, 2}, {50, 86}, {99, 171}, {100, 173}};

// With the text: the colours left and right of column 86 / 87, where the text lies.
struct TTextCase {
    int Percent;
    std::set<uint32_t> Left, Right;
};
inline const TTextCase TextCases[] = {
    {0, {White, Black}, {White, Black}},
    {1, {White, Black}, {White, Black}},
    {2, {Navy, White, Black}, {White, Black}},
    {50, {Navy, LightYellow}, {White, Black}},
    {100, {Navy, LightYellow}, {Navy, LightYellow}},
};

// The one-pixel black frame.
inline void ExpectFrame(const TPixels& px) {
    for (int x = 0; x < Width; ++x) {
        ASSERT_EQ(px(x, 0), Black) << x;
        ASSERT_EQ(px(x, Height - 1), Black) << x;
    }
    for (int y = 0; y < Height; ++y) {
        ASSERT_EQ(px(0, y), Black) << y;
        ASSERT_EQ(px(Width - 1, y), Black) << y;
    }
}

inline void ExpectBar(const TPixels& px, const TBarCase& c) {
    ExpectFrame(px);
    for (int y = 1; y < Height - 1; ++y) {
        for (int x = 1; x < Width - 1; ++x) {
            ASSERT_EQ(px(x, y), x <= c.LastNavyColumn ? Navy : White)
                << c.Percent << "% at " << x << "," << y;
        }
    }
}

// The colours of the inside between two columns.
inline std::set<uint32_t> ColoursIn(const TPixels& px, int fromX, int toX) {
    std::set<uint32_t> colours;
    for (int y = 1; y < Height - 1; ++y) {
        for (int x = fromX; x <= toX; ++x) {
            colours.insert(px(x, y));
        }
    }
    return colours;
}

inline void ExpectText(const TPixels& px, const TTextCase& c) {
    ExpectFrame(px);
    EXPECT_EQ(ColoursIn(px, 1, 86), c.Left) << c.Percent << "%";
    EXPECT_EQ(ColoursIn(px, 87, Width - 2), c.Right) << c.Percent << "%";
}

} // namespace GaugePictures
