#include "view/wx/ColumnBars.h"

#include <wx/graphics.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#if defined(__WXGTK3__)
#include <cairo.h>
#endif

namespace tamix {
namespace {

#if defined(__WXGTK3__)
// Cairo fills thousands of one-pixel rectangles at about a microsecond each;
// writing their few pixels is a hundred times cheaper. Only a plain image
// surface drawn at one device pixel per unit qualifies.
bool FillIntoImage(wxGraphicsContext& gc, std::span<const ColumnBar> bars, const wxRect& clip,
                   const wxColour& colour) {
    auto* cr = static_cast<cairo_t*>(gc.GetNativeContext());
    if (cr == nullptr) return false;
    cairo_surface_t* surface = cairo_get_target(cr);
    if (cairo_surface_get_type(surface) != CAIRO_SURFACE_TYPE_IMAGE) return false;
    const cairo_format_t format = cairo_image_surface_get_format(surface);
    if (format != CAIRO_FORMAT_RGB24 && format != CAIRO_FORMAT_ARGB32) return false;
    cairo_matrix_t m;
    cairo_get_matrix(cr, &m);
    double scaleX = 0;
    double scaleY = 0;
    cairo_surface_get_device_scale(surface, &scaleX, &scaleY);
    double offsetX = 0;
    double offsetY = 0;
    cairo_surface_get_device_offset(surface, &offsetX, &offsetY);
    const double dx = m.x0 + offsetX;
    const double dy = m.y0 + offsetY;
    if (m.xx != 1 || m.yy != 1 || m.xy != 0 || m.yx != 0 || scaleX != 1 || scaleY != 1 ||
        dx != std::round(dx) || dy != std::round(dy)) {
        return false;
    }
    const int shiftX = static_cast<int>(dx);
    const int shiftY = static_cast<int>(dy);
    cairo_surface_flush(surface);
    unsigned char* data = cairo_image_surface_get_data(surface);
    if (data == nullptr) return false;
    const int stride = cairo_image_surface_get_stride(surface);
    const int left = std::max(clip.GetLeft() + shiftX, 0);
    const int right =
        std::min(clip.GetRight() + shiftX, cairo_image_surface_get_width(surface) - 1);
    const int top = std::max(clip.GetTop() + shiftY, 0);
    const int bottom =
        std::min(clip.GetBottom() + shiftY, cairo_image_surface_get_height(surface) - 1);
    if (left > right || top > bottom) return true;
    // Both formats keep a pixel as one native-endian word; opaque needs no premultiplying.
    const uint32_t pixel = 0xff000000u | (uint32_t{colour.Red()} << 16) |
                           (uint32_t{colour.Green()} << 8) | uint32_t{colour.Blue()};
    for (const ColumnBar& bar : bars) {
        const int x = bar.x + shiftX;
        if (x < left || x > right) continue;
        const int y0 = std::max(bar.top + shiftY, top);
        const int y1 = std::min(bar.bottom + shiftY, bottom);
        unsigned char* row = data + static_cast<ptrdiff_t>(y0) * stride;
        for (int y = y0; y <= y1; ++y, row += stride) {
            reinterpret_cast<uint32_t*>(row)[x] = pixel;
        }
    }
    cairo_surface_mark_dirty_rectangle(surface, left, top, right - left + 1, bottom - top + 1);
    return true;
}
#endif

}  // namespace

void FillColumnBars(wxDC& dc, std::span<const ColumnBar> bars, const wxRect& clip,
                    const wxColour& colour, BarFill how) {
    if (bars.empty()) return;
    wxGraphicsContext* gc = dc.GetGraphicsContext();
    if (gc == nullptr) {
        wxDCClipper clipper(dc, clip);
        dc.SetPen(wxPen(colour));
        for (const ColumnBar& bar : bars) dc.DrawLine(bar.x, bar.top, bar.x, bar.bottom + 1);
        return;
    }
#if defined(__WXGTK3__)
    if (how == BarFill::Fastest && FillIntoImage(*gc, bars, clip, colour)) return;
#else
    (void)how;
#endif
    wxDCClipper clipper(dc, clip);
    const wxAntialiasMode smoothing = gc->GetAntialiasMode();
    gc->SetAntialiasMode(wxANTIALIAS_NONE);
    wxGraphicsPath path = gc->CreatePath();
    for (const ColumnBar& bar : bars) {
        path.AddRectangle(bar.x, bar.top, 1, bar.bottom - bar.top + 1);
    }
    gc->SetBrush(wxBrush(colour));
    gc->FillPath(path);
    gc->SetAntialiasMode(smoothing);
}

}  // namespace tamix
