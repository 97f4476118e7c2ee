// The signal view: strips of live traces with their icons and the header, the
// 50 ms refresh, the mouse scaling and the measurement commands. It owns the
// acquisition worker's thread. User interface thread only.
#pragma once

#include <wx/bitmap.h>
#include <wx/docview.h>
#include <wx/timer.h>
#include <wx/window.h>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/TextLimits.h"

#include "acquisition/WorkerThread.h"
#include "view/DisplayScaling.h"
#include "view/LiveNumbers.h"
#include "view/TraceReadout.h"
#include "view/ViewGeometry.h"
#include "view/wx/ColumnBars.h"
#include "view/wx/ViewTheme.h"
#include "view/wx/WxUserInterface.h"

namespace tamix {

class IniFile;
class SignalCanvas;

class CTamixView final : public wxView {
  public:
    CTamixView();
    // Asks a running worker to stop and waits for it to complete its file.
    ~CTamixView() override;

    bool OnCreate(wxDocument* doc, long flags) override;
    void OnDraw(wxDC* dc) override;
    bool OnClose(bool deleteWindow) override;
    void OnUpdate(wxView* sender, wxObject* hint) override;
    // The main window's title: the document's name, " - ", the application title.
    void OnChangeFilename() override;

    // Draws the header (when `withHeader`) and the traces over display indices
    // from..to-1; returns to-1 when it drew a segment, else `from`.
    int DrawTraces(wxDC& dc, int from, int to, bool withHeader);
    void OnTimerTick();

    // Measurement and Tools commands.
    void OnMeasurementStart(wxCommandEvent&);
    void OnMeasurementStop(wxCommandEvent&);
    void OnMeasurementPause(wxCommandEvent&);
    void OnMeasurementCommPort(wxCommandEvent&);
    void OnMeasurementEightChannels(wxCommandEvent&);
    void OnMeasurementCalibrate(wxCommandEvent&);
    void OnToolsAddMarker(wxCommandEvent&);
    void OnToolsResetAllScaling(wxCommandEvent&);
    void OnToolsAutoscaleAll(wxCommandEvent&);
    void OnToolsLiveNumbers(wxCommandEvent&);
    void OnUpdateCommand(wxUpdateUIEvent& event);

    // Mouse on the icon column.
    void OnButtonDown(int x, int y, MouseButton button);
    // The pointer moved: readout in the status bar, tips on icons and markers.
    void OnPointer(int x, int y);
    std::optional<Readout> ReadoutAt(int x, int y) const;
    // The tip shown at a point: an icon's use or a marker's comment; empty elsewhere.
    wxString TipAt(int x, int y) const;
    // The x of marker `m` on the current sweep, if it lies on it.
    std::optional<int> MarkerX(int m) const;
    const ViewTheme& theme() const { return m_theme; }
    // Status bar texts; the first field holds readouts and the end of a run.
    wxString StatusText(int field) const;
    bool liveNumbersShown() const { return m_bLiveNumbers; }
    // The strips' live numbers as drawn, one line per strip ("1: Chn1: now ...").
    wxString LiveNumbersLines() const;

    const ViewLayout& layout() const { return m_layout; }
    DisplayScaling& scaling() { return m_scaling; }
    SignalCanvas* canvas() const { return m_canvas; }
    void OnCanvasDestroyed() { m_canvas = nullptr; }
    WorkerThread& worker() { return m_worker; }
    // Paints the whole view into its buffer now (used by paints and measured by tests).
    void RenderAll();

    int m_nDrawnUpTo = 0;

  private:
    void InvalidateAll();
    void ReportRunEnd();
    void DrawHeader(wxDC& dc);
    void DrawMarkers(wxDC& dc, int from, int to);
    // Names and edge values of the strips, redrawn over any trace in x0..x1.
    void DrawStripLabels(wxDC& dc, int x0, int x1);
    void UpdateStatus();
    void SetStatus(int field, const wxString& text);
    // Reads the live numbers again and draws them into their strips' corners.
    void RefreshLiveNumbers();
    // The readout box of strip `i` for the current numbers, beside its other labels.
    void PlaceLiveNumbers(wxDC& dc, int i, bool keepWidth);

    SignalCanvas* m_canvas = nullptr;
    ViewLayout m_layout;
    DisplayScaling m_scaling;
    WorkerThread m_worker;
    WxUserInterface m_ui;
    bool m_bReporting = false;
    ViewTheme m_theme;
    std::string m_runFile;  // the file of the current or last run
    // One strip's polyline, two points per column (its low and high), reused.
    std::array<wxPoint, 2 * kBufferRows + 2> m_points;
    std::array<ColumnBar, kBufferRows> m_bars;  // one strip's min-max bars, reused
    struct LabelBox {
        wxRect rect;
        wxString text;
        int font = 0;  // 0 normal, 1 small
        wxColour colour;
    };
    // Per strip: its name, its edge values, and its live numbers (kLiveLabel).
    static constexpr int kLiveLabel = 3;
    std::array<std::array<LabelBox, 4>, kMaxChannels> m_labels{};
    static void DrawLabel(wxDC& dc, const LabelBox& label, const wxColour& background);

    bool m_bLiveNumbers = false;  // from the profile, toggled by Tools > Live numbers
    // The last numbers read: kept while paused and after the run's end.
    std::optional<LiveNumbers> m_live;
    std::chrono::steady_clock::time_point m_liveReadAt{};

    wxDECLARE_DYNAMIC_CLASS(CTamixView);
    wxDECLARE_EVENT_TABLE();
};

// What the view's commands use of the application: the profile, the file
// opener, and the step that readies the instrument for the chosen inputs.
using PrepareInstrumentFn = std::function<void(MeasurementSetup&)>;
void SetViewServices(IniFile* profile, FileOpener* opener, PrepareInstrumentFn prepare);

}  // namespace tamix
