// The window the signal view draws into: a buffer bitmap that full paints
// redraw and ticks extend, blitted on paint without flicker; it owns the
// 50 ms refresh timer. User interface thread only.
#pragma once

#include <wx/bitmap.h>
#include <wx/dcmemory.h>
#include <wx/image.h>
#include <wx/timer.h>
#include <wx/window.h>

#include <optional>

namespace tamix {

class CTamixView;

class SignalCanvas final : public wxWindow {
  public:
    SignalCanvas(wxWindow* parent, CTamixView* view);
    ~SignalCanvas() override;

    // The buffer, `size` pixels large, selected into a DC that lives as long as
    // it does: ticks draw into it without setting up a new context each time.
    wxDC& BufferDC(wxSize size);
    bool HasBuffer() const { return m_buffer.IsOk(); }
    // A copy of what the buffer holds.
    wxImage BufferImage();
    void RequestFullRedraw();
    // What a screen reader reads for the canvas (its accessible name): the
    // texts drawn that it cannot see, such as the live numbers.
    void SetAccessibleText(const wxString& text);
    bool timerRunning() const { return m_timer.IsRunning(); }
    // The 50 ms refresh runs only during a run: an idle window does no timer work.
    void StartRefresh();
    void StopRefresh() { m_timer.Stop(); }
    // The view is going: the window may outlive it until its frame is destroyed.
    void DetachView();
    // Asked by every paint's DC for the font and colours; GTK's style look-ups
    // are done once per theme instead of on each of twenty paints a second.
    wxVisualAttributes GetDefaultAttributes() const override;

  private:
    void OnPaint(wxPaintEvent&);
    void OnSize(wxSizeEvent&);
    void OnMouse(wxMouseEvent& event);
    void OnMotion(wxMouseEvent& event);
    void OnTimer(wxTimerEvent&);

    CTamixView* m_view;
    wxBitmap m_buffer;
    wxMemoryDC m_bufferDC;
    wxTimer m_timer;
    bool m_bFullRedraw = true;
    bool m_bTimerPending = true;
    wxString m_accessibleText;
    mutable std::optional<wxVisualAttributes> m_attributes;
};

}  // namespace tamix
