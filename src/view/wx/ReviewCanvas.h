// The review window's drawing area: one strip per channel with the live view's
// colours, icons and scaling, the visible scans drawn from the min-max
// overview, markers as flags, a time axis; the mouse wheel zooms around the
// pointer, dragging pans. Its frame owns the recording. User interface thread only.
#pragma once

#include <wx/bitmap.h>
#include <wx/window.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "recording/MinMaxPyramid.h"
#include "recording/RecordingReader.h"
#include "view/DisplayScaling.h"
#include "view/ReviewCursors.h"
#include "view/ReviewReadout.h"
#include "view/ReviewViewport.h"
#include "view/ViewGeometry.h"
#include "view/wx/ViewTheme.h"

namespace tamix {

class ReviewCanvas final : public wxWindow {
  public:
    static constexpr int kAxisHeight = 20;

    // A text drawn in a box: a marker's flag, a value at the pointer.
    struct Label {
        std::size_t index = 0;  // the marker's or the channel's
        wxRect box;
        wxString text;
    };

    explicit ReviewCanvas(wxWindow* parent);

    // The recording to show; the overview is null while it is being built.
    // Both stay owned by the frame and outlive their use here.
    void SetRecording(RecordingReader* reader, MinMaxPyramid* overview);
    // The reader and the overview took in more scans of a recording that is
    // being made; the view follows its end if it was there.
    void RecordingGrew();
    // A line shown in the header while there is no overview (progress, failure).
    void SetNotice(const wxString& notice);

    ReviewViewport& viewport() { return m_viewport; }
    const ViewLayout& layout() const { return m_layout; }
    DisplayScaling& scaling() { return m_scaling; }
    const ViewTheme& theme() const { return m_theme; }
    const std::vector<ChannelInfo>& shownChannels() const { return m_shown; }
    wxBitmap& buffer() { return m_buffer; }
    double lastRenderMs() const { return m_lastRenderMs; }

    // Called after every change of the visible scans (scroll bar, status).
    std::function<void()> onViewChanged;
    // Called with the readout text when the pointer moves (empty off the traces).
    std::function<void(const wxString&)> onReadout;
    // Called during a paint with the reader's reason ("FILE: reason") when the
    // scans to draw cannot be read, for example because another program cut
    // the file short; the traces that could not be read are left empty.
    std::function<void(const std::string&)> onReadFailed;

    // The view changed: redraw and tell the frame.
    void ViewChanged();
    // Zooms by `factor` around client x (as a wheel notch there does).
    void ZoomAt(double factor, int x);
    // The column of client x, clamped to the traces.
    int ColumnOf(int x) const;
    // The x of marker `m`, if it is on screen.
    std::optional<int> MarkerX(std::size_t m) const;
    // Fits every strip to the scans on screen (the whole recording at first).
    void FitAll();
    // Paints everything into the buffer now (used by paints, measured by tests).
    void RenderAll();
    // Each strip's label (input, name, unit) as last drawn.
    const std::vector<wxRect>& nameBoxes() const { return m_nameBoxes; }
    // The flags of the markers on screen as last drawn; a marker without room
    // for a flag has none.
    const std::vector<Label>& flags() const { return m_flags; }
    // Each channel's value at the pointer, beside its strip's label; none while
    // the pointer is off the traces. Drawn over the buffer by every paint.
    std::vector<Label> ReadoutLabels();
    void DrawReadout(wxDC& dc);
    // The tip for client x on the traces: every marker whose line is near.
    wxString MarkerTip(int x) const;

    // The markers drawn: the recording's at first, the edited list once the
    // frame has one. Owned by the frame.
    void SetMarkers(const std::vector<RecordingMarker>* markers);
    const std::vector<RecordingMarker>& markers() const;

    // The two cursors; dragging a cursor's line moves it, Shift and a drag
    // span them over the dragged scans.
    const CursorPair& cursors() const { return m_cursors; }
    void PlaceCursor(int which, int64_t scan);
    void ClearCursors();
    // Puts cursor `which` at the pointer when it is on the traces, else in the
    // middle of the view.
    void PlaceCursorAtPointer(int which);
    // Moves the active cursor by one scan once scans lie apart, else a column.
    void StepCursor(int direction);
    // The client x of cursor `which`, if it is placed and on screen.
    std::optional<int> CursorX(int which) const;
    // Called whenever a cursor moves.
    std::function<void()> onCursorsChanged;

  private:
    void OnPaint(wxPaintEvent&);
    void OnSize(wxSizeEvent&);
    void OnWheel(wxMouseEvent& event);
    void OnLeftDown(wxMouseEvent& event);
    void OnRightDown(wxMouseEvent& event);
    void OnLeftUp(wxMouseEvent& event);
    void OnMotion(wxMouseEvent& event);
    void OnCaptureLost(wxMouseCaptureLostEvent&);
    void OnKey(wxKeyEvent& event);

    void LayOutStrips(int width, int height);
    void DrawHeader(wxDC& dc);
    void DrawStrip(wxDC& dc, int c);
    void DrawMarkers(wxDC& dc);
    void DrawAxis(wxDC& dc);
    bool IconClick(int x, int y, MouseButton button);
    // Min and max of every channel over the scans on screen; false without them.
    bool VisibleRange(std::vector<MinMax>& range);
    void FitStrip(std::size_t c, const MinMax& range);
    void Readout(int x, int y);
    void DrawCursors(wxDC& dc);
    void CursorsChanged();
    std::optional<int> CursorNear(int x) const;
    std::vector<Label> LayOutReadout(wxDC& dc) const;

    RecordingReader* m_reader = nullptr;
    MinMaxPyramid* m_overview = nullptr;
    ReviewViewport m_viewport{0, 0, 1};
    DisplayScaling m_scaling;
    std::vector<ChannelInfo> m_shown;  // display calibration per strip
    std::vector<wxRect> m_nameBoxes;   // each strip's label as last drawn
    std::vector<Label> m_flags;
    std::optional<ReviewReadout> m_readout;
    std::optional<wxPoint> m_pointer;  // where the pointer was last seen on the canvas
    ViewLayout m_layout;
    ViewTheme m_theme;
    wxBitmap m_buffer;
    bool m_dirty = true;
    wxString m_notice;
    std::vector<MinMax> m_columns;  // the visible columns, reused
    std::vector<wxPoint> m_points;
    std::optional<int> m_dragX;
    std::optional<int> m_dragCursor;  // the cursor a drag moves, instead of the view
    CursorPair m_cursors;
    const std::vector<RecordingMarker>* m_markerList = nullptr;
    int64_t m_dragFirst = 0;
    double m_lastRenderMs = 0;
};

}  // namespace tamix
