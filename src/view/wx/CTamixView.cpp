#include "view/wx/CTamixView.h"

#include <wx/app.h>
#include <wx/dcbuffer.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/frame.h>
#include <wx/msgdlg.h>
#include <wx/settings.h>
#include <wx/utils.h>

#include "acquisition/AcquisitionWorker.h"
#include "control/MeasurementCommands.h"
#include "control/MeasurementControl.h"
#include "dialogs/wx/CAboutDlg.h"
#include "dialogs/wx/CAddMarkerDlg.h"
#include "dialogs/wx/CHelpDlg.h"
#include "dialogs/wx/CMeasurementOptionsDlg.h"
#include "dialogs/wx/CSystemSetupDlg.h"
#include "view/wx/SignalCanvas.h"

#include "res/shift.xpm"
#include "res/volume.xpm"
#include "res/zoom.xpm"

namespace tamix {
namespace {

IniFile* gProfile = nullptr;
FileOpener* gOpener = nullptr;

wxRect ToWx(const Rect& r) {
    return {r.left, r.top, r.Width(), r.Height()};
}

// A sunken three-dimensional edge, two pixels wide, on all four sides.
void DrawSunkenEdge(wxDC& dc, const Rect& r) {
    if (r.Width() < 2 || r.Height() < 2) return;
    const wxColour shadow = wxSystemSettings::GetColour(wxSYS_COLOUR_BTNSHADOW);
    const wxColour dark = wxSystemSettings::GetColour(wxSYS_COLOUR_3DDKSHADOW);
    const wxColour light = wxSystemSettings::GetColour(wxSYS_COLOUR_3DLIGHT);
    const wxColour highlight = wxSystemSettings::GetColour(wxSYS_COLOUR_BTNHIGHLIGHT);
    const int l = r.left, t = r.top, rr = r.right - 1, b = r.bottom - 1;
    dc.SetPen(wxPen(shadow));
    dc.DrawLine(l, b, l, t);
    dc.DrawLine(l, t, rr, t);
    dc.SetPen(wxPen(highlight));
    dc.DrawLine(rr, t, rr, b);
    dc.DrawLine(rr, b, l - 1, b);
    dc.SetPen(wxPen(dark));
    dc.DrawLine(l + 1, b - 1, l + 1, t + 1);
    dc.DrawLine(l + 1, t + 1, rr - 1, t + 1);
    dc.SetPen(wxPen(light));
    dc.DrawLine(rr - 1, t + 1, rr - 1, b - 1);
    dc.DrawLine(rr - 1, b - 1, l, b - 1);
}

const wxBitmap& Icon(int k) {
    static const wxBitmap icons[3] = {wxBitmap(zoom_xpm), wxBitmap(volume_xpm),
                                      wxBitmap(shift_xpm)};
    return icons[k];
}

}  // namespace

void SetViewServices(IniFile* profile, FileOpener* opener) {
    gProfile = profile;
    gOpener = opener;
}

wxIMPLEMENT_DYNAMIC_CLASS(CTamixView, wxView);

// clang-format off
wxBEGIN_EVENT_TABLE(CTamixView, wxView)
    EVT_MENU(cmd::ID_MEASUREMENT_START, CTamixView::OnMeasurementStart)
    EVT_MENU(cmd::ID_MEASUREMENT_STOP, CTamixView::OnMeasurementStop)
    EVT_MENU(cmd::ID_MEASUREMENT_PAUSE, CTamixView::OnMeasurementPause)
    EVT_MENU(cmd::ID_MEASUREMENT_COMMPORT, CTamixView::OnMeasurementCommPort)
    EVT_MENU(cmd::ID_MEASUREMENT_EIGHTCHANNELS, CTamixView::OnMeasurementEightChannels)
    EVT_MENU(cmd::ID_MEASUREMENT_CALIBRATE, CTamixView::OnMeasurementCalibrate)
    EVT_MENU(cmd::ID_TOOLS_ADDMARKER, CTamixView::OnToolsAddMarker)
    EVT_MENU(cmd::ID_TOOLS_RESETALLSCALING, CTamixView::OnToolsResetAllScaling)
    EVT_MENU(cmd::ID_TOOLS_AUTOSCALEALL, CTamixView::OnToolsAutoscaleAll)
    EVT_UPDATE_UI(cmd::ID_MEASUREMENT_START, CTamixView::OnUpdateCommand)
    EVT_UPDATE_UI(cmd::ID_MEASUREMENT_STOP, CTamixView::OnUpdateCommand)
    EVT_UPDATE_UI(cmd::ID_MEASUREMENT_PAUSE, CTamixView::OnUpdateCommand)
    EVT_UPDATE_UI(cmd::ID_MEASUREMENT_COMMPORT, CTamixView::OnUpdateCommand)
    EVT_UPDATE_UI(cmd::ID_MEASUREMENT_EIGHTCHANNELS, CTamixView::OnUpdateCommand)
    EVT_UPDATE_UI(cmd::ID_MEASUREMENT_CALIBRATE, CTamixView::OnUpdateCommand)
    EVT_UPDATE_UI(cmd::ID_TOOLS_ADDMARKER, CTamixView::OnUpdateCommand)
    EVT_UPDATE_UI(cmd::ID_APP_EXIT, CTamixView::OnUpdateCommand)
wxEND_EVENT_TABLE();
// clang-format on

CTamixView::CTamixView() {
    TheSetup().SetDefaults();
}

CTamixView::~CTamixView() {
    TheSetup().RequestStop();
    // The worker's destructor waits for it: the file is complete before the program goes on.
}

bool CTamixView::OnCreate(wxDocument* doc, long flags) {
    if (!wxView::OnCreate(doc, flags)) return false;
    wxFrame* frame = wxStaticCast(wxTheApp->GetTopWindow(), wxFrame);
    SetFrame(frame);
    m_canvas = new SignalCanvas(frame, this);
    frame->SendSizeEvent();
    return true;
}

bool CTamixView::OnClose(bool deleteWindow) {
    if (!wxView::OnClose(deleteWindow)) return false;
    Activate(false);
    return true;
}

void CTamixView::OnUpdate(wxView*, wxObject*) {
    InvalidateAll();
}

void CTamixView::OnDraw(wxDC*) {}

void CTamixView::OnChangeFilename() {
    if (GetFrame() == nullptr || GetDocument() == nullptr) return;
    GetFrame()->SetLabel(GetDocument()->GetUserReadableName() + " - " + text::kAppTitle);
}

void CTamixView::InvalidateAll() {
    if (m_canvas != nullptr) m_canvas->RequestFullRedraw();
}

void CTamixView::RenderAll() {
    MeasurementSetup& setup = TheSetup();
    const wxSize size = m_canvas->GetClientSize();
    wxBitmap& buffer = m_canvas->buffer();
    if (!buffer.IsOk() || buffer.GetWidth() != size.x || buffer.GetHeight() != size.y) {
        buffer.Create(std::max(size.x, 1), std::max(size.y, 1));
    }
    wxMemoryDC dc(buffer);
    dc.SetBackground(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW)));
    dc.Clear();
    m_layout = ComputeLayout(size.x, size.y, setup.channelCount);
    dc.SetFont(*wxNORMAL_FONT);
    dc.SetTextForeground(*wxBLACK);
    dc.SetTextBackground(*wxWHITE);
    dc.SetBackgroundMode(wxBRUSHSTYLE_SOLID);
    for (int i = 0; i < m_layout.channelCount && m_layout.stripHeight > 0; ++i) {
        const Rect& s = m_layout.strips[i];
        const int mid = (s.top + s.bottom) / 2;
        dc.SetPen(*wxBLACK_PEN);
        for (int x = s.left; x < s.right; x += 4) dc.DrawPoint(x, mid);
        {
            wxDCClipper clip(dc, ToWx(s));
            dc.DrawText(wxString::FromUTF8(setup.channels[i].Name().data(),
                                           setup.channels[i].Name().size()),
                        s.left, s.top);
        }
        DrawSunkenEdge(dc, s);
        for (int k = 0; k < 3; ++k) {
            const Rect cell = m_layout.IconCell(i, k);
            {
                wxDCClipper clip(dc, wxRect(0, s.top, kIconColumnWidth, s.Height()));
                dc.DrawBitmap(Icon(k), m_layout.IconX(cell), m_layout.IconY(cell), true);
            }
            DrawSunkenEdge(dc, cell);
        }
    }
    m_nDrawnUpTo = 0;
    setup.displayWidth = DisplayWidthFor(m_layout.traceWidth);
    DrawTraces(dc, 0, setup.displayColumn.load(), true);
}

int CTamixView::DrawTraces(wxDC& dc, int from, int to, bool withHeader) {
    MeasurementSetup& setup = TheSetup();
    if (withHeader) {
        dc.SetFont(*wxNORMAL_FONT);
        dc.SetTextForeground(*wxBLACK);
        dc.SetTextBackground(*wxWHITE);
        dc.SetBackgroundMode(wxBRUSHSTYLE_SOLID);
        const wxRect header = ToWx(m_layout.header);
        const wxString clock = ClockText(setup.scanCount.load(), setup.profile.samplePeriod);
        const std::string_view file = setup.OutputFileName();
        const std::string_view model = setup.profile.ModelName();
        dc.DrawLabel(clock, header, wxALIGN_RIGHT | wxALIGN_TOP);
        dc.DrawLabel(wxString::FromUTF8(file.data(), file.size()), header,
                     wxALIGN_LEFT | wxALIGN_TOP);
        dc.DrawLabel(wxString::FromUTF8(model.data(), model.size()), header,
                     wxALIGN_CENTRE_HORIZONTAL | wxALIGN_TOP);
    }
    to = std::min(to, kBufferRows);
    if (from >= to || m_layout.stripHeight < 1) return from;
    dc.SetPen(*wxBLACK_PEN);
    for (int c = 0; c < m_layout.channelCount; ++c) {
        const Rect& s = m_layout.strips[c];
        wxDCClipper clip(dc, ToWx(s));
        const int mid = (s.top + s.bottom) / 2;
        const int g = m_scaling.gain(c);
        const int o = m_scaling.offset(c);
        const auto point = [&](int j) {
            const int v = setup.displayColumns[j][c].load(std::memory_order_relaxed);
            return wxPoint(s.left + j, PointY(mid, v, o, m_layout.stripHeight, g));
        };
        // One polyline per strip: the segment joins the end of the previous one.
        int n = 0;
        m_points[n++] = point(from);
        for (int j = from; j < to; ++j) m_points[n++] = point(j);
        dc.DrawLines(n, m_points.data());
    }
    return to - 1;
}

void CTamixView::OnTimerTick() {
    MeasurementSetup& setup = TheSetup();
    if (setup.Status() == RunStatus::Idle) {
        ReportRunEnd();
        return;
    }
    if (setup.redrawRequest.load()) {
        m_nDrawnUpTo = 0;
        InvalidateAll();
        setup.redrawRequest = 0;
        return;
    }
    wxBitmap& buffer = m_canvas->buffer();
    if (!buffer.IsOk()) return;
    const int to = setup.displayColumn.load();
    const bool withHeader = setup.secondTick.load() != 0;
    const int from = m_nDrawnUpTo;
    {
        wxMemoryDC dc(buffer);
        m_nDrawnUpTo = DrawTraces(dc, from, to, withHeader);
    }
    setup.secondTick = 0;
    if (withHeader) m_canvas->RefreshRect(ToWx(m_layout.header), false);
    if (to > from) {
        const Rect& t = m_layout.traces;
        m_canvas->RefreshRect(wxRect(t.left + from, t.top, to - from + 1, t.Height()), false);
    }
}

void CTamixView::ReportRunEnd() {
    MeasurementSetup& setup = TheSetup();
    if (m_bReporting || !m_worker.Joinable() || setup.workerActive.load()) return;
    m_worker.Join();
    InvalidateAll();
    const std::string report = RunEndReport(setup);
    if (report.empty()) return;
    m_bReporting = true;
    m_ui.ShowMessage(report, UserInterface::Icon::Warning);
    m_bReporting = false;
}

void CTamixView::OnMeasurementStart(wxCommandEvent&) {
    MeasurementSetup& setup = TheSetup();
    if (gProfile == nullptr) return;
    // The previous worker may still be completing its file with the old choices.
    m_ui.BeginWait();
    m_worker.Join();
    m_ui.EndWait();
    // The profile as it is on disk now: another instance or an editor may have changed it.
    *gProfile = IniFile(gProfile->path());
    for (;;) {
        CMeasurementOptionsDlg dlg(nullptr, *gProfile);
        if (dlg.ShowModal() != wxID_OK) return;
        dlg.TransferToSetup(setup);
        m_nDrawnUpTo = 0;
        InvalidateAll();
        const StartOutcome outcome = StartMeasurement(
            setup, m_worker, gOpener != nullptr ? *gOpener : DefaultFileOpener(), m_ui);
        if (outcome == StartOutcome::Started) {
            setup.displayWidth = DisplayWidthFor(m_layout.traceWidth);
        }
        if (outcome != StartOutcome::NoChannel) return;
    }
}

void CTamixView::OnMeasurementStop(wxCommandEvent&) {
    if (StopMeasurement(TheSetup(), m_ui) && GetDocument() != nullptr) {
        GetDocument()->Modify(false);
    }
}

void CTamixView::OnMeasurementPause(wxCommandEvent&) {
    PauseMeasurement(TheSetup(), m_ui);
    InvalidateAll();
}

void CTamixView::OnMeasurementCommPort(wxCommandEvent&) {
    if (gProfile == nullptr) return;
    CSystemSetupDlg dlg(nullptr, *gProfile);
    if (dlg.ShowModal() == wxID_OK) TheSetup().SetCommPort(dlg.GetPort());
}

void CTamixView::OnMeasurementEightChannels(wxCommandEvent&) {
    MeasurementSetup& setup = TheSetup();
    setup.SetEightChannels(!setup.GetEightChannels());
}

void CTamixView::OnMeasurementCalibrate(wxCommandEvent&) {
    m_ui.ShowMessage(text::kNotImplemented, UserInterface::Icon::Information);
}

void CTamixView::OnToolsAddMarker(wxCommandEvent&) {
    const std::optional<PendingMarker> marker = PrepareMarker(TheSetup());
    if (!marker) return;
    CAddMarkerDlg dlg(wxTheApp->GetTopWindow());
    dlg.SetMarkerNumber(marker->number);
    if (dlg.ShowModal() != wxID_OK) return;
    TheSetup().AddMarker(marker->scan, dlg.m_strComment, marker->wallTime);
}

void CTamixView::OnToolsResetAllScaling(wxCommandEvent&) {
    m_scaling.ResetAll();
    InvalidateAll();
}

void CTamixView::OnToolsAutoscaleAll(wxCommandEvent&) {
    MeasurementSetup& setup = TheSetup();
    if (m_scaling.AutoscaleAll(setup, setup.displayColumn.load())) InvalidateAll();
}

void CTamixView::OnButtonDown(int x, int y, MouseButton button) {
    const auto hit = HitTestIconColumn(m_layout, x, y);
    if (!hit) return;
    MeasurementSetup& setup = TheSetup();
    m_scaling.Click(*hit, button, setup, setup.displayColumn.load());
    InvalidateAll();
}

void CTamixView::OnUpdateCommand(wxUpdateUIEvent& event) {
    const CommandState state = CommandStateFor(event.GetId(), TheSetup());
    event.Enable(state.enabled);
    if (event.GetId() == cmd::ID_MEASUREMENT_PAUSE ||
        event.GetId() == cmd::ID_MEASUREMENT_EIGHTCHANNELS) {
        event.Check(state.checked);
    }
}

}  // namespace tamix
