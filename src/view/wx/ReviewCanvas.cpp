#include "view/wx/ReviewCanvas.h"

#include <wx/dcbuffer.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/graphics.h>
#include <wx/settings.h>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "base/ChannelLabel.h"
#include "view/MarkerFlags.h"
#include "view/ReviewMarkers.h"
#include "view/ReviewReadout.h"
#include "view/TimeAxis.h"
#include "view/TraceReadout.h"
#include "view/wx/AccessibleName.h"
#include "view/wx/StripFrame.h"

namespace tamix {
namespace {

constexpr int kLabelMargin = 2;
constexpr int kTickPixels = 90;  // the least distance between two time labels
constexpr int kMarkerHitPixels = 3;
constexpr std::size_t kFlagChars = 24;
constexpr int kMaxFlagRows = 4;
constexpr int kFlagGap = 3;
constexpr int kValueGap = 8;         // between a strip's label and its value at the pointer
constexpr double kWheelZoom = 1.25;  // per notch
constexpr int kCursorHitPixels = 4;

wxString W(std::string_view s) {
    return wxString::FromUTF8(s.data(), s.size());
}

// y of an engineering value in a strip, by the live view's drawing rule.
// Sample counts of a value for drawing: a text recording may hold "nan" or
// huge numbers, which must not overflow the pixel arithmetic.
int Counts(double value, const ChannelInfo& shown) {
    const double sample = DisplaySample(value, shown);
    return std::isnan(sample) ? 0 : static_cast<int>(std::lround(std::clamp(sample, -1e6, 1e6)));
}

int ValueY(double value, const ChannelInfo& shown, int mid, int offset, int height, int gain) {
    return PointY(mid, Counts(value, shown), offset, height, gain);
}

}  // namespace

ReviewCanvas::ReviewCanvas(wxWindow* parent)
    : wxWindow(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxWANTS_CHARS) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, &ReviewCanvas::OnPaint, this);
    Bind(wxEVT_SIZE, &ReviewCanvas::OnSize, this);
    Bind(wxEVT_MOUSEWHEEL, &ReviewCanvas::OnWheel, this);
    Bind(wxEVT_LEFT_DOWN, &ReviewCanvas::OnLeftDown, this);
    Bind(wxEVT_RIGHT_DOWN, &ReviewCanvas::OnRightDown, this);
    Bind(wxEVT_LEFT_UP, &ReviewCanvas::OnLeftUp, this);
    Bind(wxEVT_MOTION, &ReviewCanvas::OnMotion, this);
    Bind(wxEVT_MOUSE_CAPTURE_LOST, &ReviewCanvas::OnCaptureLost, this);
    Bind(wxEVT_KEY_DOWN, &ReviewCanvas::OnKey, this);
    Bind(wxEVT_LEAVE_WINDOW, [this](wxMouseEvent& e) {
        if (m_readout) Refresh(false);
        m_readout.reset();
        m_pointer.reset();
        if (onReadout) onReadout(wxString());
        e.Skip();
    });
}

void ReviewCanvas::SetRecording(RecordingReader* reader, MinMaxPyramid* overview) {
    m_reader = reader;
    m_overview = overview;
    if (reader == nullptr) return;
    const RecordingInfo& info = reader->Info();
    const wxSize size = GetClientSize();
    m_viewport = ReviewViewport(info.scanCount, info.period, 1);
    LayOutStrips(size.x, size.y);
    m_shown.clear();
    const std::size_t n = std::min<std::size_t>(info.channels.size(), kMaxChannels);
    std::vector<MinMax> whole(info.channels.size());
    const bool haveRange = overview != nullptr && info.scanCount > 0 &&
                           overview->Range(*reader, 0, info.scanCount, whole);
    for (std::size_t k = 0; k < n; ++k) {
        m_shown.push_back(DisplayCalibration(info.channels[k], info.format,
                                             haveRange ? whole[k].min : 0,
                                             haveRange ? whole[k].max : 0));
    }
    if (overview != nullptr) FitAll();
    ViewChanged();
}

void ReviewCanvas::RecordingGrew() {
    if (m_reader == nullptr) return;
    m_viewport.Grow(m_reader->Info().scanCount);
    ViewChanged();
}

void ReviewCanvas::SetNotice(const wxString& notice) {
    if (m_notice == notice) return;
    m_notice = notice;
    m_dirty = true;
    Refresh(false);
}

bool ReviewCanvas::VisibleRange(std::vector<MinMax>& range) {
    if (m_reader == nullptr || m_overview == nullptr || m_viewport.Span() <= 0) return false;
    range.resize(m_reader->Info().channels.size());
    return m_overview->Range(*m_reader, m_viewport.First(), m_viewport.EndScan(), range);
}

void ReviewCanvas::FitStrip(std::size_t c, const MinMax& range) {
    m_scaling.FitRange(static_cast<int>(c), Counts(range.min, m_shown[c]),
                       Counts(range.max, m_shown[c]));
}

void ReviewCanvas::FitAll() {
    std::vector<MinMax> range;
    if (!VisibleRange(range)) return;
    for (std::size_t k = 0; k < m_shown.size(); ++k) FitStrip(k, range[k]);
}

void ReviewCanvas::LayOutStrips(int width, int height) {
    m_layout = ComputeLayout(width, std::max(height - kAxisHeight, kHeaderHeight),
                             static_cast<int>(m_shown.size()));
    m_viewport.SetColumns(std::max(m_layout.traceWidth, 1));
}

void ReviewCanvas::ViewChanged() {
    // The scans in view, for a screen reader: the picture alone does not say.
    SetAccessibleName(*this, wxString::Format("Scans %lld to %lld of %lld",
                                              static_cast<long long>(m_viewport.First()),
                                              static_cast<long long>(m_viewport.EndScan()),
                                              static_cast<long long>(m_viewport.TotalScans())));
    m_dirty = true;
    Refresh(false);
    // The scan under a pointer that stayed put has changed.
    if (m_pointer) Readout(m_pointer->x, m_pointer->y);
    if (onViewChanged) onViewChanged();
}

int ReviewCanvas::ColumnOf(int x) const {
    return std::clamp(x - m_layout.traces.left, 0, std::max(m_layout.traceWidth - 1, 0));
}

void ReviewCanvas::ZoomAt(double factor, int x) {
    m_viewport.Zoom(factor, ColumnOf(x));
    ViewChanged();
}

std::optional<int> ReviewCanvas::MarkerX(std::size_t m) const {
    if (m_reader == nullptr || m >= markers().size()) return std::nullopt;
    const auto column = m_viewport.ColumnOfScan(markers()[m].scan);
    if (!column) return std::nullopt;
    return m_layout.traces.left + *column;
}

void ReviewCanvas::RenderAll() {
    const auto start = std::chrono::steady_clock::now();
    const wxSize size = GetClientSize();
    if (!m_buffer.IsOk() || m_buffer.GetWidth() != size.x || m_buffer.GetHeight() != size.y) {
        m_buffer.Create(std::max(size.x, 1), std::max(size.y, 1));
    }
    const wxColour background = wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW);
    if (!m_theme.background.IsOk() || m_theme.background != background) {
        m_theme = ViewTheme::For(background);
    }
    LayOutStrips(size.x, size.y);
    m_flags.clear();
    wxMemoryDC dc(m_buffer);
    dc.SetBackground(wxBrush(m_theme.background));
    dc.Clear();
    dc.SetFont(*wxNORMAL_FONT);
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    DrawHeader(dc);
    const bool ready = m_reader != nullptr && m_overview != nullptr && m_layout.stripHeight > 0 &&
                       m_viewport.Span() > 0;
    if (ready) {
        const std::size_t n = m_reader->Info().channels.size();
        m_columns.resize(static_cast<std::size_t>(m_layout.traceWidth) * n);
        if (!m_overview->Columns(*m_reader, m_viewport.First(), m_viewport.EndScan(),
                                 m_layout.traceWidth, m_columns)) {
            // Half-read columns would show scans that are not in the file.
            m_columns.clear();
            const std::string error = m_reader->Error();
            m_notice = W(error);
            if (onReadFailed) onReadFailed(error);
        }
    }
    for (int c = 0; c < m_layout.channelCount; ++c) DrawStrip(dc, c);
    if (ready) {
        DrawMarkers(dc);
        DrawAxis(dc);
    }
    m_dirty = false;
    m_lastRenderMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void ReviewCanvas::DrawHeader(wxDC& dc) {
    const Rect& h = m_layout.header;
    dc.SetTextForeground(m_theme.ink);
    wxString left;
    wxString right;
    if (m_reader != nullptr) {
        const RecordingInfo& info = m_reader->Info();
        left = W(info.fileName);
        const std::size_t n = info.channels.size();
        if (n > kMaxChannels)
            left += wxString::Format("   (the first %d of %zu channels)", kMaxChannels, n);
        const double step = TickStep(static_cast<double>(m_viewport.Span()) * info.period /
                                         std::max(m_viewport.Columns(), 1),
                                     kTickPixels);
        right = W(TimeLabel(static_cast<double>(m_viewport.First()) * info.period, step) + " to " +
                  TimeLabel(static_cast<double>(m_viewport.EndScan()) * info.period, step) +
                  " of " + TimeLabel(static_cast<double>(info.scanCount) * info.period, 0.001));
    }
    const wxRect r = ToWx(h);
    dc.DrawLabel(left, r, wxALIGN_LEFT | wxALIGN_TOP);
    dc.DrawLabel(right, r, wxALIGN_RIGHT | wxALIGN_TOP);
    if (!m_notice.empty()) dc.DrawLabel(m_notice, r, wxALIGN_CENTRE_HORIZONTAL | wxALIGN_TOP);
}

void ReviewCanvas::DrawStrip(wxDC& dc, int c) {
    const Rect& s = m_layout.strips[c];
    const int mid = (s.top + s.bottom) / 2;
    dc.SetPen(wxPen(m_theme.zeroLine));
    for (int x = s.left; x < s.right; x += 4) dc.DrawPoint(x, mid);
    DrawStripFrame(dc, m_layout, m_theme, c);
    if (static_cast<std::size_t>(c) >= m_shown.size()) return;
    const ChannelInfo& shown = m_shown[static_cast<std::size_t>(c)];
    const wxColour colour = m_theme.trace[ColourSlot(shown, static_cast<std::size_t>(c))];
    const int g = m_scaling.gain(c);
    const int o = m_scaling.offset(c);
    const int h = m_layout.stripHeight;
    if (m_overview != nullptr && !m_columns.empty()) {
        wxDCClipper clip(dc, ToWx(s));
        const std::size_t n = m_reader->Info().channels.size();
        // Each column from its lowest to its highest value, stretched to meet
        // the column before it, so that the trace stays one line at any zoom.
        wxGraphicsContext* gc = dc.GetGraphicsContext();
        const wxAntialiasMode smoothing = gc != nullptr ? gc->GetAntialiasMode() : wxANTIALIAS_NONE;
        wxGraphicsPath bars = gc != nullptr ? gc->CreatePath() : wxGraphicsPath();
        dc.SetPen(wxPen(colour));
        int prevTop = 0;
        int prevBottom = 0;
        for (int j = 0; j < m_layout.traceWidth; ++j) {
            const MinMax& mm =
                m_columns[static_cast<std::size_t>(j) * n + static_cast<std::size_t>(c)];
            int top = ValueY(mm.max, shown, mid, o, h, g);
            int bottom = ValueY(mm.min, shown, mid, o, h, g);
            const int rawTop = top;
            const int rawBottom = bottom;
            if (j > 0) {
                if (prevBottom < top) top = prevBottom;
                if (prevTop > bottom) bottom = prevTop;
            }
            prevTop = rawTop;
            prevBottom = rawBottom;
            top = std::max(top, s.top - 1);
            bottom = std::min(bottom, s.bottom);
            if (bottom < top) continue;
            if (gc != nullptr) {
                bars.AddRectangle(s.left + j, top, 1, bottom - top + 1);
            } else {
                dc.DrawLine(s.left + j, top, s.left + j, bottom + 1);
            }
        }
        if (gc != nullptr) {
            gc->SetAntialiasMode(wxANTIALIAS_NONE);
            gc->SetBrush(wxBrush(colour));
            gc->FillPath(bars);
            gc->SetAntialiasMode(smoothing);
        }
    }
    // Input, name and unit at the top left, the values of the edges at the right.
    const std::string_view unit = shown.Unit();
    const wxString name = W(ChannelTitle(shown, static_cast<std::size_t>(c)));
    const EdgeValues edges = StripEdgeValues(s, g, o, shown);
    const auto label = [&](const wxString& text, int x, int y, const wxColour& ink) {
        const wxSize size = dc.GetTextExtent(text);
        wxRect box(x, y, size.x, size.y);
        box.Inflate(1, 0);
        dc.SetPen(*wxTRANSPARENT_PEN);
        dc.SetBrush(wxBrush(m_theme.background));
        dc.DrawRectangle(box);
        dc.SetTextForeground(ink);
        dc.DrawText(text, x, y);
        return size;
    };
    const wxSize nameSize = label(name, s.left + kLabelMargin, s.top + kLabelMargin, colour);
    m_nameBoxes.resize(m_shown.size());
    m_nameBoxes[static_cast<std::size_t>(c)] =
        wxRect(s.left + kLabelMargin, s.top + kLabelMargin, nameSize.x, nameSize.y);
    dc.SetFont(*wxSMALL_FONT);
    const wxString top = W(FormatValue(edges.top, unit));
    const wxString bottom = W(FormatValue(edges.bottom, unit));
    const wxSize topSize = dc.GetTextExtent(top);
    const wxSize bottomSize = dc.GetTextExtent(bottom);
    // A strip too low for both edge values shows only its name.
    if (s.Height() >= topSize.y + bottomSize.y + 2 * kLabelMargin + 1) {
        label(top, s.right - kLabelMargin - topSize.x, s.top + kLabelMargin, m_theme.ink);
        label(bottom, s.right - kLabelMargin - bottomSize.x, s.bottom - kLabelMargin - bottomSize.y,
              m_theme.ink);
    }
    dc.SetFont(*wxNORMAL_FONT);
}

void ReviewCanvas::DrawMarkers(wxDC& dc) {
    const std::vector<RecordingMarker>& markers = this->markers();
    const Rect& t = m_layout.traces;
    const int bottom = t.top + m_layout.stripHeight * m_layout.channelCount;
    m_flags.clear();
    std::vector<FlagRequest> requests;
    std::vector<wxString> numbers;
    dc.SetFont(*wxSMALL_FONT);
    for (std::size_t m = 0; m < markers.size(); ++m) {
        const std::optional<int> x = MarkerX(m);
        if (!x) continue;
        dc.SetPen(wxPen(m_theme.ink, 1, wxPENSTYLE_SHORT_DASH));
        dc.DrawLine(*x, t.top, *x, bottom);
        const wxString text = W(MarkerFlagText(m, markers[m], kFlagChars));
        numbers.push_back(wxString::Format("%zu", m));
        requests.push_back(
            {*x, dc.GetTextExtent(text).x + 4, dc.GetTextExtent(numbers.back()).x + 4});
        m_flags.push_back({m, wxRect(), text});
    }
    // The flags hang in rows below the first strip's label, above its lower
    // edge value.
    const int rowHeight = dc.GetTextExtent("0").y + 1;
    const Rect& first = m_layout.strips[0];
    const int nameBottom =
        m_nameBoxes.empty() ? first.top + kLabelMargin : m_nameBoxes[0].GetBottom();
    const int flagTop = nameBottom + 3;
    const int room = first.bottom - kLabelMargin - rowHeight - flagTop;
    const FlagArea area{t.left, t.right, std::clamp(room / rowHeight, 1, kMaxFlagRows), kFlagGap};
    const std::vector<FlagPlace> places = PlaceFlags(requests, area);
    std::vector<Label> shown;
    for (std::size_t i = 0; i < places.size(); ++i) {
        const FlagPlace& p = places[i];
        if (!p.shown) continue;
        Label flag = m_flags[i];
        if (p.numberOnly) flag.text = numbers[i];
        flag.box = wxRect(p.left, flagTop + p.row * rowHeight, p.width, rowHeight - 1);
        dc.SetPen(wxPen(m_theme.ink));
        dc.SetBrush(wxBrush(m_theme.ink));
        dc.DrawRectangle(flag.box);
        dc.SetTextForeground(m_theme.background);
        dc.DrawText(flag.text, flag.box.x + 2, flag.box.y);
        shown.push_back(std::move(flag));
    }
    m_flags = std::move(shown);
    dc.SetFont(*wxNORMAL_FONT);
}

void ReviewCanvas::DrawAxis(wxDC& dc) {
    const Rect& t = m_layout.traces;
    const int top = t.top + m_layout.stripHeight * m_layout.channelCount;
    dc.SetPen(wxPen(m_theme.ink));
    dc.SetTextForeground(m_theme.ink);
    dc.SetFont(*wxSMALL_FONT);
    dc.DrawLine(t.left, top, t.right, top);
    for (const TimeTick& tick : TimeTicks(m_viewport, kTickPixels)) {
        const int x = t.left + tick.column;
        dc.DrawLine(x, top, x, top + 4);
        const wxString label = W(tick.label);
        const int w = dc.GetTextExtent(label).x;
        dc.DrawText(label, std::clamp(x - w / 2, t.left, t.right - w), top + 5);
    }
    dc.SetFont(*wxNORMAL_FONT);
}

void ReviewCanvas::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    if (m_dirty || !m_buffer.IsOk() || m_buffer.GetSize() != GetClientSize()) RenderAll();
    dc.DrawBitmap(m_buffer, 0, 0);
    // Over the buffer: a cursor's drag repaints the lines, never the traces.
    DrawCursors(dc);
    DrawReadout(dc);
}

std::vector<ReviewCanvas::Label> ReviewCanvas::ReadoutLabels() {
    wxClientDC dc(this);
    return LayOutReadout(dc);
}

std::vector<ReviewCanvas::Label> ReviewCanvas::LayOutReadout(wxDC& dc) const {
    std::vector<Label> labels;
    if (!m_readout || m_reader == nullptr) return labels;
    const std::size_t n = std::min(m_shown.size(), m_nameBoxes.size());
    // One column for all values, right of the widest label.
    int x = 0;
    for (std::size_t c = 0; c < n; ++c) x = std::max(x, m_nameBoxes[c].GetRight() + 1 + kValueGap);
    dc.SetFont(*wxNORMAL_FONT);
    for (std::size_t c = 0; c < n; ++c) {
        const wxString text = W(ReviewValueText(*m_readout, c, m_reader->Info().channels));
        const wxSize size = dc.GetTextExtent(text);
        labels.push_back({c, wxRect(x, m_nameBoxes[c].y, size.x, size.y), text});
    }
    return labels;
}

void ReviewCanvas::DrawReadout(wxDC& dc) {
    if (!m_readout) return;
    dc.SetFont(*wxNORMAL_FONT);
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    for (const Label& label : LayOutReadout(dc)) {
        wxRect box = label.box;
        box.Inflate(1, 0);
        dc.SetPen(*wxTRANSPARENT_PEN);
        dc.SetBrush(wxBrush(m_theme.background));
        dc.DrawRectangle(box);
        dc.SetTextForeground(m_theme.trace[ColourSlot(m_shown[label.index], label.index)]);
        dc.DrawText(label.text, label.box.x, label.box.y);
    }
}

void ReviewCanvas::OnSize(wxSizeEvent& event) {
    m_dirty = true;
    Refresh(false);
    if (onViewChanged) onViewChanged();
    event.Skip();
}

void ReviewCanvas::OnWheel(wxMouseEvent& event) {
    if (event.GetWheelAxis() != wxMOUSE_WHEEL_VERTICAL || event.GetWheelDelta() == 0) return;
    const double notches = static_cast<double>(event.GetWheelRotation()) / event.GetWheelDelta();
    ZoomAt(std::pow(kWheelZoom, notches), event.GetX());
}

bool ReviewCanvas::IconClick(int x, int y, MouseButton button) {
    const auto hit = HitTestIconColumn(m_layout, x, y);
    if (!hit) return false;
    if (!m_scaling.Step(*hit, button)) {
        // The magnifier fits its strip to the scans on screen.
        std::vector<MinMax> range;
        const auto c = static_cast<std::size_t>(hit->channel);
        if (c < m_shown.size() && VisibleRange(range)) FitStrip(c, range[c]);
    }
    ViewChanged();
    return true;
}

void ReviewCanvas::OnLeftDown(wxMouseEvent& event) {
    SetFocus();
    if (IconClick(event.GetX(), event.GetY(), MouseButton::Left)) return;
    const Rect& t = m_layout.traces;
    const bool onTraces = m_reader != nullptr && m_viewport.Span() > 0 && event.GetX() >= t.left &&
                          event.GetX() < t.right && event.GetY() >= t.top &&
                          event.GetY() < t.bottom;
    if (onTraces && event.ShiftDown()) {
        // A span: the first cursor where the drag starts, the second follows it.
        PlaceCursor(0, CursorScanAt(m_viewport, event.GetX() - t.left));
        PlaceCursor(1, CursorScanAt(m_viewport, event.GetX() - t.left));
        m_dragCursor = 1;
    } else if (const std::optional<int> near = onTraces ? CursorNear(event.GetX()) : std::nullopt) {
        m_dragCursor = *near;
        m_cursors.active = *near;
    } else {
        m_dragX = event.GetX();
    }
    m_dragFirst = m_viewport.First();
    if (!HasCapture()) CaptureMouse();
}

void ReviewCanvas::OnRightDown(wxMouseEvent& event) {
    IconClick(event.GetX(), event.GetY(), MouseButton::Right);
}

void ReviewCanvas::OnLeftUp(wxMouseEvent&) {
    m_dragX.reset();
    m_dragCursor.reset();
    if (HasCapture()) ReleaseMouse();
}

void ReviewCanvas::OnCaptureLost(wxMouseCaptureLostEvent&) {
    m_dragX.reset();
    m_dragCursor.reset();
}

void ReviewCanvas::OnMotion(wxMouseEvent& event) {
    if (m_dragCursor && event.LeftIsDown()) {
        PlaceCursor(*m_dragCursor, CursorScanAt(m_viewport, event.GetX() - m_layout.traces.left));
    } else if (m_dragX && event.LeftIsDown()) {
        // Dragging moves the recording with the pointer.
        const double columns = static_cast<double>(*m_dragX - event.GetX());
        m_viewport.ScrollTo(
            m_dragFirst +
            std::llround(columns * static_cast<double>(m_viewport.Span()) / m_viewport.Columns()));
        ViewChanged();
    }
    Readout(event.GetX(), event.GetY());
}

void ReviewCanvas::SetMarkers(const std::vector<RecordingMarker>* markers) {
    m_markerList = markers;
    m_dirty = true;
    Refresh(false);
}

const std::vector<RecordingMarker>& ReviewCanvas::markers() const {
    static const std::vector<RecordingMarker> kNone;
    if (m_markerList != nullptr) return *m_markerList;
    return m_reader != nullptr ? m_reader->Info().markers : kNone;
}

void ReviewCanvas::CursorsChanged() {
    Refresh(false);
    if (onCursorsChanged) onCursorsChanged();
}

void ReviewCanvas::PlaceCursor(int which, int64_t scan) {
    if (m_reader == nullptr || which < 0 || which > 1 || m_viewport.TotalScans() <= 0) return;
    const auto i = static_cast<std::size_t>(which);
    m_cursors.scan[i] = std::clamp<int64_t>(scan, 0, m_viewport.TotalScans() - 1);
    m_cursors.active = which;
    CursorsChanged();
}

void ReviewCanvas::ClearCursors() {
    m_cursors = {};
    CursorsChanged();
}

void ReviewCanvas::PlaceCursorAtPointer(int which) {
    const Rect& t = m_layout.traces;
    if (m_pointer && m_pointer->x >= t.left && m_pointer->x < t.right && m_pointer->y >= t.top &&
        m_pointer->y < t.bottom) {
        PlaceCursor(which, CursorScanAt(m_viewport, m_pointer->x - t.left));
    } else {
        PlaceCursor(which, m_viewport.First() + m_viewport.Span() / 2);
    }
}

void ReviewCanvas::StepCursor(int direction) {
    const auto i = static_cast<std::size_t>(m_cursors.active);
    if (!m_cursors.scan[i]) {
        PlaceCursorAtPointer(m_cursors.active);
        return;
    }
    // One scan once scans lie apart on screen, else the next column's scan.
    const int64_t perColumn =
        std::max<int64_t>(1, m_viewport.Span() / std::max(m_viewport.Columns(), 1));
    const int64_t scan = *m_cursors.scan[i] + direction * perColumn;
    PlaceCursor(m_cursors.active, scan);
    if (!m_viewport.ColumnOfScan(*m_cursors.scan[i])) {
        m_viewport.CentreOn(*m_cursors.scan[i]);
        ViewChanged();
    }
}

std::optional<int> ReviewCanvas::CursorX(int which) const {
    const std::optional<int64_t>& scan = m_cursors.scan[static_cast<std::size_t>(which)];
    if (!scan || *scan < m_viewport.First() || *scan >= m_viewport.EndScan()) return std::nullopt;
    return m_layout.traces.left + static_cast<int>(std::lround(CursorColumn(m_viewport, *scan)));
}

std::optional<int> ReviewCanvas::CursorNear(int x) const {
    std::optional<int> best;
    int distance = kCursorHitPixels + 1;
    for (int i = 0; i < 2; ++i) {
        if (const std::optional<int> cx = CursorX(i); cx && std::abs(*cx - x) < distance) {
            distance = std::abs(*cx - x);
            best = i;
        }
    }
    return best;
}

void ReviewCanvas::DrawCursors(wxDC& dc) {
    if (m_layout.stripHeight <= 0) return;
    const Rect& t = m_layout.traces;
    const int bottom = t.top + m_layout.stripHeight * m_layout.channelCount;
    dc.SetFont(*wxSMALL_FONT);
    for (int i = 0; i < 2; ++i) {
        const std::optional<int> x = CursorX(i);
        if (!x) continue;
        dc.SetPen(wxPen(m_theme.ink, 1, i == 0 ? wxPENSTYLE_SOLID : wxPENSTYLE_DOT));
        dc.DrawLine(*x, t.top, *x, bottom);
        const wxString number = wxString::Format("%d", i + 1);
        const wxSize size = dc.GetTextExtent(number);
        const wxRect box(*x - size.x / 2 - 2, bottom - size.y - 1, size.x + 4, size.y);
        dc.SetPen(wxPen(m_theme.ink));
        dc.SetBrush(wxBrush(i == m_cursors.active ? m_theme.ink : m_theme.background));
        dc.DrawRectangle(box);
        dc.SetTextForeground(i == m_cursors.active ? m_theme.background : m_theme.ink);
        dc.DrawText(number, box.x + 2, box.y);
    }
    dc.SetFont(*wxNORMAL_FONT);
}

void ReviewCanvas::Readout(int x, int y) {
    const Rect& t = m_layout.traces;
    ReviewReadout r;
    const bool on = m_reader != nullptr && x >= t.left && x < t.right && y >= t.top &&
                    y < t.bottom && ReadoutAtColumn(*m_reader, m_viewport, x - t.left, r);
    if (on || m_readout) Refresh(false);
    m_pointer = wxPoint(x, y);
    if (!on) {
        m_readout.reset();
        if (onReadout) onReadout(wxString());
        return;
    }
    m_readout = r;
    if (onReadout) onReadout(W(ReviewTimeText(r)));
    const wxString tip = MarkerTip(x);
    if (tip.empty()) {
        UnsetToolTip();
    } else if (GetToolTipText() != tip) {
        SetToolTip(tip);
    }
}

wxString ReviewCanvas::MarkerTip(int x) const {
    // Every marker near the pointer, with its whole comment: flags at one
    // place may show only their numbers, or none.
    wxString tip;
    const std::vector<RecordingMarker>& markers = this->markers();
    for (std::size_t m = 0; m < markers.size(); ++m) {
        const std::optional<int> mx = MarkerX(m);
        if (mx && std::abs(*mx - x) <= kMarkerHitPixels) {
            if (!tip.empty()) tip += "\n";
            tip += wxString::Format("Marker %zu: ", m) + W(markers[m].comment);
        }
    }
    return tip;
}

// The arrows and pages pan here; the window's accelerators (Home, End, N, P,
// the zoom keys) are looked up before a key reaches the canvas.
void ReviewCanvas::OnKey(wxKeyEvent& event) {
    switch (event.GetKeyCode()) {
        case WXK_LEFT:
            m_viewport.PanColumns(-m_viewport.Columns() / 8.0);
            break;
        case WXK_RIGHT:
            m_viewport.PanColumns(m_viewport.Columns() / 8.0);
            break;
        case WXK_PAGEUP:
            m_viewport.PanColumns(-m_viewport.Columns() * 0.9);
            break;
        case WXK_PAGEDOWN:
            m_viewport.PanColumns(m_viewport.Columns() * 0.9);
            break;
        default:
            event.Skip();
            return;
    }
    ViewChanged();
}

}  // namespace tamix
