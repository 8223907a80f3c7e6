// The progress gauge painted with GDI: a windowless control that draws on its parent window's
// surface. Each picture is composed off screen in device-independent bitmaps and reaches the
// screen in one copy, so the gauge never flickers; the geometry and the setters' rules are the
// ones every painter of the gauge shares (GaugeGeometry, TGaugeModel).
#pragma once

#include "widgets/GaugeModel.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <type_traits>

// An off-screen bitmap of 32 bits a pixel, selected into a memory device context of its own for
// drawing, its pixels readable in memory.
class TGdiBitmap {
public:
    TGdiBitmap() = default;
    // An empty bitmap when width or height is not above 0 or the system has no room for it.
    TGdiBitmap(int width, int height);
    ~TGdiBitmap();
    TGdiBitmap(const TGdiBitmap&) = delete;
    TGdiBitmap& operator=(const TGdiBitmap&) = delete;

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    bool Empty() const { return FCanvas == nullptr; }
    // The device context to draw on; nullptr for an empty bitmap.
    HDC Canvas() const { return FCanvas; }
    // The colour of a pixel as 0xRRGGBB, once the drawing so far has reached the bitmap.
    uint32_t Pixel(int x, int y) const;

protected:
    void Allocate(int width, int height);

private:
    void Release();

    int FWidth = 0;
    int FHeight = 0;
    HDC FCanvas = nullptr;
    HBITMAP FBitmap = nullptr;
    HGDIOBJ FOldBitmap = nullptr;
    const uint32_t* FBits = nullptr;
};

// An overlay used while a picture is composed.
class TBltBitmap : public TGdiBitmap {
public:
    // Takes the template's width and height, then fills the whole bitmap with the system's
    // window-frame colour, solid.
    void MatchSize(const TGdiBitmap& templ);
};

class TCGauge : public TGaugePainter<TGdiBitmap, TBltBitmap> {
public:
    // Defaults: horizontal bar, text shown, single border, black on white, 0 to 100 at 0, at
    // (0, 0) of the parent and 100 x 100 pixels, the system font, the button face behind.
    explicit TCGauge(HWND parent);

    COLORREF ForeColor() const;
    COLORREF BackColor() const;
    // The control's background colour; the pie and needle kinds fill their rectangle with it
    // first.
    COLORREF Color() const { return FColor; }
    void SetColor(COLORREF value);
    // The font of the percentage text; the gauge does not own it. The text is drawn in the same
    // font without smoothing, so that every pixel of it is white or untouched and the
    // exclusive-or inverts exactly the colours under the text.
    HFONT Font() const { return FFont; }
    void SetFont(HFONT value);

    // The other setters are TGaugeControl's; each redraws now when the model says so.
    void SetForeColor(COLORREF value);
    void SetBackColor(COLORREF value);

    // The place in the parent's client area.
    RECT BoundsRect() const;
    void SetBounds(int left, int top, int width, int height);

    // Composes the picture and copies it to the gauge's place on the device context, replacing
    // what was there. The parent calls it when its surface is painted.
    void Paint(HDC dc);
    // The picture as Paint composes it, off screen; nothing when the gauge has no area.
    std::unique_ptr<TGdiBitmap> RenderImage() const;
    // How many times the gauge has been painted on the screen.
    int PaintCount() const { return FPaintCount; }

protected:
    void PaintBackground(TGdiBitmap& bitmap) const override;
    void PaintAsText(TGdiBitmap& image, const TGaugeRect& rect) const override;
    void PaintAsNothing(TGdiBitmap& bitmap, const TGaugeRect& rect) const override;
    void PaintAsBar(TGdiBitmap& bitmap, const TGaugeRect& rect) const override;
    void PaintAsPie(TGdiBitmap& bitmap, const TGaugeRect& rect) const override;
    void PaintAsNeedle(TGdiBitmap& bitmap, const TGaugeRect& rect) const override;
    void XorInto(TGdiBitmap& image, const TGdiBitmap& overlay) const override;

private:
    // On the parent's surface; nothing while the parent is hidden.
    void RedrawNow() override;

    HWND FParent;
    COLORREF FColor;
    HFONT FFont = nullptr;
    // The text's font: Font without smoothing, owned.
    std::unique_ptr<std::remove_pointer_t<HFONT>, decltype(&::DeleteObject)> FTextFont{
        nullptr, &::DeleteObject};
    int FLeft = 0;
    int FTop = 0;
    int FWidth = 100;
    int FHeight = 100;
    int FPaintCount = 0;
};
