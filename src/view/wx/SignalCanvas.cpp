#include "view/wx/SignalCanvas.h"

#include <wx/dcclient.h>

#include "control/MeasurementCommands.h"
#include "dialogs/wx/CMessageBox.h"
#include "view/wx/AccessibleName.h"
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
    Bind(wxEVT_SYS_COLOUR_CHANGED, [this](wxSysColourChangedEvent& event) {
        m_attributes.reset();
        event.Skip();
    });
}

wxVisualAttributes SignalCanvas::GetDefaultAttributes() const {
    if (!m_attributes) m_attributes = wxWindow::GetDefaultAttributes();
    return *m_attributes;
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

wxDC& SignalCanvas::BufferDC(wxSize size) {
    size.IncTo(wxSize(1, 1));
    if (!m_buffer.IsOk() || m_buffer.GetSize() != size) {
        m_bufferDC.SelectObject(wxNullBitmap);
        m_buffer.Create(size);
        m_bufferDC.SelectObject(m_buffer);
    }
    return m_bufferDC;
}

wxImage SignalCanvas::BufferImage() {
    if (!m_buffer.IsOk()) return {};
    m_bufferDC.SelectObject(wxNullBitmap);
    wxImage image = m_buffer.ConvertToImage();
    m_bufferDC.SelectObject(m_buffer);
    return image;
}

void SignalCanvas::RequestFullRedraw() {
    m_bFullRedraw = true;
    Refresh(false);
}

void SignalCanvas::SetAccessibleText(const wxString& text) {
    if (text == m_accessibleText) return;
    m_accessibleText = text;
    SetAccessibleName(*this, text);
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
#if defined(__WXGTK3__)
    // Paints straight from the buffer's cairo surface, selected or not; a blit
    // would copy the whole buffer first.
    dc.DrawBitmap(m_buffer, 0, 0);
#else
    dc.Blit(0, 0, m_buffer.GetWidth(), m_buffer.GetHeight(), &m_bufferDC, 0, 0);
#endif
    if (m_bTimerPending) StartRefresh();
}

void SignalCanvas::StartRefresh() {
    if (m_timer.IsRunning()) return;
    const bool first = m_bTimerPending;
    m_bTimerPending = false;
    // A refused timer is reported once; later runs retry silently.
    if (!m_timer.Start(50) && first) {
        ShowMessageBox(text::kNoTimers, "MDI:Bounce", wxOK | wxICON_EXCLAMATION);
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
