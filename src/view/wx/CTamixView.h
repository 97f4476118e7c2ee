// The signal view: strips of live traces with their icons and the header, the
// 50 ms refresh, the mouse scaling and the measurement commands. It owns the
// acquisition worker's thread. User interface thread only.
#pragma once

#include <wx/bitmap.h>
#include <wx/docview.h>
#include <wx/timer.h>
#include <wx/window.h>

#include <array>
#include <memory>

#include "base/TextLimits.h"

#include "acquisition/WorkerThread.h"
#include "view/DisplayScaling.h"
#include "view/ViewGeometry.h"
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
    void OnUpdateCommand(wxUpdateUIEvent& event);

    // Mouse on the icon column.
    void OnButtonDown(int x, int y, MouseButton button);

    const ViewLayout& layout() const { return m_layout; }
    DisplayScaling& scaling() { return m_scaling; }
    SignalCanvas* canvas() const { return m_canvas; }
    WorkerThread& worker() { return m_worker; }
    // Paints the whole view into its buffer now (used by paints and measured by tests).
    void RenderAll();

    int m_nDrawnUpTo = 0;

  private:
    void InvalidateAll();
    void ReportRunEnd();

    SignalCanvas* m_canvas = nullptr;
    ViewLayout m_layout;
    DisplayScaling m_scaling;
    WorkerThread m_worker;
    WxUserInterface m_ui;
    bool m_bReporting = false;
    std::array<wxPoint, kBufferRows + 1> m_points;  // one strip's polyline, reused

    wxDECLARE_DYNAMIC_CLASS(CTamixView);
    wxDECLARE_EVENT_TABLE();
};

// The profile and the file opener the view's commands use; set by the application.
void SetViewServices(IniFile* profile, FileOpener* opener);

}  // namespace tamix
