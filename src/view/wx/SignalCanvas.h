// The window the signal view draws into: a buffer bitmap that full paints
// redraw and ticks extend, blitted on paint without flicker; it owns the
// 50 ms refresh timer. User interface thread only.
#pragma once

#include <wx/bitmap.h>
#include <wx/timer.h>
#include <wx/window.h>

namespace tamix {

class CTamixView;

class SignalCanvas final : public wxWindow {
  public:
    SignalCanvas(wxWindow* parent, CTamixView* view);
    ~SignalCanvas() override;

    wxBitmap& buffer() { return m_buffer; }
    void RequestFullRedraw();
    bool timerRunning() const { return m_timer.IsRunning(); }
    // The 50 ms refresh runs only during a run: an idle window does no timer work.
    void StartRefresh();
    void StopRefresh() { m_timer.Stop(); }
    // The view is going: the window may outlive it until its frame is destroyed.
    void DetachView();

  private:
    void OnPaint(wxPaintEvent&);
    void OnSize(wxSizeEvent&);
    void OnMouse(wxMouseEvent& event);
    void OnMotion(wxMouseEvent& event);
    void OnTimer(wxTimerEvent&);

    CTamixView* m_view;
    wxBitmap m_buffer;
    wxTimer m_timer;
    bool m_bFullRedraw = true;
    bool m_bTimerPending = true;
};

}  // namespace tamix
