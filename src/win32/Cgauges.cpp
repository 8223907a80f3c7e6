#include "win32/Cgauges.h"

#include <string>

using namespace GaugeGeometry;

namespace {

RECT ToRECT(const TGaugeRect& r) {
    return RECT{r.Left, r.Top, r.Right, r.Bottom};
}

COLORREF ToCOLORREF(TGaugeColour c) {
    return RGB(c.Red, c.Green, c.Blue);
}

TGaugeColour ToGaugeColour(COLORREF c) {
    return {GetRValue(c), GetGValue(c), GetBValue(c)};
}

// A pen or brush selected into a device context for the life of the object, then put back and
// deleted.
class TSelected {
public:
    TSelected(HDC dc, HGDIOBJ object)
        : FDC(dc), FObject(object), FOld(::SelectObject(dc, object)) {}
    ~TSelected() {
        ::SelectObject(FDC, FOld);
        ::DeleteObject(FObject);
    }
    TSelected(const TSelected&) = delete;
    TSelected& operator=(const TSelected&) = delete;

private:
    HDC FDC;
    HGDIOBJ FObject;
    HGDIOBJ FOld;
};

void FillSolid(const TGdiBitmap& bitmap, const TGaugeRect& r, COLORREF colour) {
    if (r.Right <= r.Left || r.Bottom <= r.Top) {
        return;
    }
    const RECT area = ToRECT(r);
    HBRUSH brush = ::CreateSolidBrush(colour);
    ::FillRect(bitmap.Canvas(), &area, brush);
    ::DeleteObject(brush);
}

void DrawPie(HDC dc, const TPieSlice& slice) {
    ::Pie(dc, slice.Box.Left, slice.Box.Top, slice.Box.Right, slice.Box.Bottom, slice.Start.X,
          slice.Start.Y, slice.End.X, slice.End.Y);
}

void DrawLine(HDC dc, TGaugePoint from, TGaugePoint to) {
    ::MoveToEx(dc, from.X, from.Y, nullptr);
    ::LineTo(dc, to.X, to.Y);
}

} // namespace

TGdiBitmap::TGdiBitmap(int width, int height) {
    Allocate(width, height);
}

TGdiBitmap::~TGdiBitmap() {
    Release();
}

void TGdiBitmap::Allocate(int width, int height) {
    Release();
    if (width <= 0 || height <= 0) {
        return;
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    FBitmap = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (FBitmap == nullptr) {
        return;
    }
    FCanvas = ::CreateCompatibleDC(nullptr);
    if (FCanvas == nullptr) {
        ::DeleteObject(FBitmap);
        FBitmap = nullptr;
        return;
    }
    FOldBitmap = ::SelectObject(FCanvas, FBitmap);
    FBits = static_cast<const uint32_t*>(bits);
    FWidth = width;
    FHeight = height;
}

void TGdiBitmap::Release() {
    if (FCanvas != nullptr) {
        ::SelectObject(FCanvas, FOldBitmap);
        ::DeleteDC(FCanvas);
        ::DeleteObject(FBitmap);
    }
    FCanvas = nullptr;
    FBitmap = nullptr;
    FOldBitmap = nullptr;
    FBits = nullptr;
    FWidth = 0;
    FHeight = 0;
}

uint32_t TGdiBitmap::Pixel(int x, int y) const {
    if (FBits == nullptr || x < 0 || y < 0 || x >= FWidth || y >= FHeight) {
        return 0;
    }
    ::GdiFlush();
    // Blue, green, red and an unused byte, in memory order.
    return FBits[static_cast<size_t>(y) * static_cast<size_t>(FWidth) + static_cast<size_t>(x)] &
           0xFFFFFFu;
}

void TBltBitmap::MatchSize(const TGdiBitmap& templ) {
    Allocate(templ.Width(), templ.Height());
    if (!Empty()) {
        const RECT whole{0, 0, Width(), Height()};
        ::FillRect(Canvas(), &whole, ::GetSysColorBrush(COLOR_WINDOWFRAME));
    }
}

TCGauge::TCGauge(HWND parent) : FParent(parent), FColor(::GetSysColor(COLOR_BTNFACE)) {
    SetFont(static_cast<HFONT>(::GetStockObject(SYSTEM_FONT)));
}

COLORREF TCGauge::ForeColor() const {
    return ToCOLORREF(FModel.ForeColor());
}

COLORREF TCGauge::BackColor() const {
    return ToCOLORREF(FModel.BackColor());
}

void TCGauge::SetColor(COLORREF value) {
    if (value != FColor) {
        FColor = value;
        RedrawNow();
    }
}

void TCGauge::SetFont(HFONT value) {
    FFont = value;
    LOGFONTA font{};
    if (value != nullptr && ::GetObjectA(value, sizeof font, &font) == sizeof font) {
        font.lfQuality = NONANTIALIASED_QUALITY;
        FTextFont.reset(::CreateFontIndirectA(&font));
    } else {
        FTextFont.reset();
    }
    RedrawNow();
}

RECT TCGauge::BoundsRect() const {
    return RECT{FLeft, FTop, FLeft + FWidth, FTop + FHeight};
}

void TCGauge::SetBounds(int left, int top, int width, int height) {
    FLeft = left;
    FTop = top;
    FWidth = width;
    FHeight = height;
}

void TCGauge::SetForeColor(COLORREF value) {
    RedrawIf(FModel.SetForeColor(ToGaugeColour(value)));
}

void TCGauge::SetBackColor(COLORREF value) {
    RedrawIf(FModel.SetBackColor(ToGaugeColour(value)));
}

void TCGauge::RedrawNow() {
    if (FParent == nullptr || !::IsWindowVisible(FParent)) {
        return;
    }
    HDC dc = ::GetDC(FParent);
    if (dc != nullptr) {
        Paint(dc);
        ::ReleaseDC(FParent, dc);
    }
}

void TCGauge::Paint(HDC dc) {
    const std::unique_ptr<TGdiBitmap> image = RenderImage();
    if (image == nullptr) {
        return;
    }
    ++FPaintCount;
    ::BitBlt(dc, FLeft, FTop, FWidth, FHeight, image->Canvas(), 0, 0, SRCCOPY);
    ::GdiFlush();
}

std::unique_ptr<TGdiBitmap> TCGauge::RenderImage() const {
    auto image = std::make_unique<TGdiBitmap>(FWidth, FHeight);
    if (image->Empty()) {
        return nullptr;
    }
    Compose(*image, FWidth, FHeight);
    return image;
}

void TCGauge::XorInto(TGdiBitmap& image, const TGdiBitmap& overlay) const {
    ::BitBlt(image.Canvas(), 0, 0, image.Width(), image.Height(), overlay.Canvas(), 0, 0,
             SRCINVERT);
}

void TCGauge::PaintBackground(TGdiBitmap& bitmap) const {
    FillSolid(bitmap, TGaugeRect{0, 0, FWidth, FHeight}, RGB(0, 0, 0));
}

void TCGauge::PaintAsNothing(TGdiBitmap& bitmap, const TGaugeRect& rect) const {
    FillSolid(bitmap, rect, BackColor());
}

void TCGauge::PaintAsBar(TGdiBitmap& bitmap, const TGaugeRect& rect) const {
    FillSolid(bitmap, rect, BackColor());
    const int percent = GetPercentDone();
    if (Kind() == gkHorizontalBar) {
        if (const auto fill = HorizontalBarFill(rect, percent)) {
            FillSolid(bitmap, *fill, ForeColor());
        }
    } else {
        FillSolid(bitmap, VerticalBarFill(rect, percent), ForeColor());
    }
}

void TCGauge::PaintAsText(TGdiBitmap& image, const TGaugeRect& rect) const {
    const std::string text = PercentText(GetPercentDone());
    const int length = static_cast<int>(text.size());
    TBltBitmap overlay;
    overlay.MatchSize(image);
    if (overlay.Empty()) {
        return;
    }
    PaintBackground(overlay);
    HDC dc = overlay.Canvas();
    ::SetBkMode(dc, TRANSPARENT);
    HGDIOBJ oldFont =
        ::SelectObject(dc, FTextFont != nullptr ? static_cast<HGDIOBJ>(FTextFont.get()) : FFont);
    ::SetTextColor(dc, RGB(255, 255, 255));
    SIZE size{};
    ::GetTextExtentPoint32A(dc, text.c_str(), length, &size);
    const TGaugePoint origin = TextOrigin(rect, size.cx, size.cy);
    const RECT clip = ToRECT(rect);
    ::ExtTextOutA(dc, origin.X, origin.Y, ETO_CLIPPED, &clip, text.c_str(),
                  static_cast<UINT>(length), nullptr);
    ::SelectObject(dc, oldFont);
    XorInto(image, overlay);
}

void TCGauge::PaintAsPie(TGdiBitmap& bitmap, const TGaugeRect& rect) const {
    FillSolid(bitmap, rect, FColor);
    HDC dc = bitmap.Canvas();
    const TSelected pen(dc, ::CreatePen(PS_SOLID, 1, ForeColor()));
    {
        const TSelected face(dc, ::CreateSolidBrush(BackColor()));
        const TGaugeRect box = PieBox(rect, BorderStyle());
        ::Ellipse(dc, box.Left, box.Top, box.Right, box.Bottom);
    }
    if (const auto slice = PieSlice(rect, BorderStyle(), GetPercentDone())) {
        const TSelected fill(dc, ::CreateSolidBrush(ForeColor()));
        DrawPie(dc, *slice);
    }
}

void TCGauge::PaintAsNeedle(TGdiBitmap& bitmap, const TGaugeRect& rect) const {
    FillSolid(bitmap, rect, FColor);
    HDC dc = bitmap.Canvas();
    const TSelected pen(dc, ::CreatePen(PS_SOLID, 1, ForeColor()));
    const TSelected face(dc, ::CreateSolidBrush(BackColor()));
    const TPieSlice dial = NeedleDial(rect, BorderStyle());
    DrawPie(dc, dial);
    // The base line of the dial; its end point is not drawn.
    DrawLine(dc, TGaugePoint{rect.Left, rect.Bottom}, TGaugePoint{dial.Start.X, rect.Bottom});
    if (const auto needle = NeedleLine(rect, FWidth, GetPercentDone())) {
        DrawLine(dc, needle->From, needle->To);
    }
}
