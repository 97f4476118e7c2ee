#include "view/wx/SignalCanvas.h"

#include <wx/dcclient.h>
#include <wx/msgdlg.h>

#include "control/MeasurementCommands.h"
#include "view/wx/CTamixView.h"

namespace tamix {

SignalCanvas::SignalCanvas(wxWindow* parent, CTamixView* view)
    : wxWindow(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize,
               wxFULL_REPAINT_ON_RESIZE | wxWANTS_CHARS),
      m_view(view),
      m_timer(this) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, &SignalCanvas::OnPaint, this);
    Bind(wxEVT_SIZE, &SignalCanvas::OnSize, this);
    Bind(wxEVT_LEFT_DOWN, &SignalCanvas::OnMouse, this);
    Bind(wxEVT_RIGHT_DOWN, &SignalCanvas::OnMouse, this);
    Bind(wxEVT_LEFT_DCLICK, &SignalCanvas::OnMouse, this);
    Bind(wxEVT_RIGHT_DCLICK, &SignalCanvas::OnMouse, this);
    Bind(wxEVT_TIMER, &SignalCanvas::OnTimer, this);
    Bind(wxEVT_MOTION, &SignalCanvas::OnMotion, this);
    Bind(wxEVT_LEAVE_WINDOW, &SignalCanvas::OnMotion, this);
}

SignalCanvas::~SignalCanvas() {
    m_timer.Stop();
    // The frame may destroy this window before or after the view goes.
    if (m_view != nullptr) m_view->OnCanvasDestroyed();
}

void SignalCanvas::DetachView() {
    m_timer.Stop();
    m_view = nullptr;
}

void SignalCanvas::RequestFullRedraw() {
    m_bFullRedraw = true;
    Refresh(false);
}

void SignalCanvas::OnSize(wxSizeEvent& event) {
    RequestFullRedraw();
    event.Skip();
}

void SignalCanvas::OnPaint(wxPaintEvent&) {
    wxPaintDC dc(this);
    if (m_view == nullptr) return;
    if (m_bFullRedraw || !m_buffer.IsOk() || m_buffer.GetSize() != GetClientSize()) {
        m_view->RenderAll();
        m_bFullRedraw = false;
    }
    dc.DrawBitmap(m_buffer, 0, 0);
    if (m_bTimerPending) StartRefresh();
}

void SignalCanvas::StartRefresh() {
    if (m_timer.IsRunning()) return;
    const bool first = m_bTimerPending;
    m_bTimerPending = false;
    // A refused timer is reported once; later runs retry silently.
    if (!m_timer.Start(50) && first) {
        wxMessageBox(text::kNoTimers, "MDI:Bounce", wxOK | wxICON_EXCLAMATION);
    }
}

void SignalCanvas::OnMotion(wxMouseEvent& event) {
    event.Skip();
    if (m_view == nullptr) return;
    if (event.Leaving()) {
        m_view->OnPointer(-1, -1);
    } else {
        m_view->OnPointer(event.GetX(), event.GetY());
    }
}

void SignalCanvas::OnMouse(wxMouseEvent& event) {
    event.Skip();
    if (m_view == nullptr) return;
    const bool left = event.LeftDown() || event.LeftDClick();
    m_view->OnButtonDown(event.GetX(), event.GetY(), left ? MouseButton::Left : MouseButton::Right);
}

void SignalCanvas::OnTimer(wxTimerEvent&) {
    if (m_view != nullptr) m_view->OnTimerTick();
}

}  // namespace tamix
