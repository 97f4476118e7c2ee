// The power density window's plot: the chosen channels' power densities in their trace
// colours on linear or logarithmic axes with ticks, and the readout of the
// frequency and levels under the pointer. Its frame owns the power density. User
// interface thread only.
#pragma once

#include <wx/window.h>

#include <functional>
#include <string>
#include <vector>

#include "recording/PowerDensity.h"
#include "recording/RecordingReader.h"
#include "view/PowerDensityPlot.h"
#include "view/wx/ViewTheme.h"

namespace tamix {

class PowerDensityCanvas final : public wxWindow {
  public:
    explicit PowerDensityCanvas(wxWindow* parent);

    // What to draw; both stay owned by the frame and outlive their use here.
    // `power density` is null while it is being computed.
    void SetPowerDensity(const PowerDensity* psd, const RecordingInfo* info);
    // The channels drawn (indices into the power density's channels) and the scales.
    void ShowChannels(std::vector<std::size_t> shown, LevelScale level, FrequencyScale frequency);
    // A line shown instead of the plot (progress, failure).
    void SetNotice(const wxString& notice);

    const PowerDensityPlot& plot() const { return m_plot; }
    const std::vector<std::size_t>& shown() const { return m_shown; }
    // The readout for client x, y: empty off the plot or without a power density.
    wxString ReadoutAt(int x, int y) const;

    // Called with the readout text when the pointer moves (empty off the plot).
    std::function<void(const wxString&)> onReadout;

  private:
    void OnPaint(wxPaintEvent&);
    void OnSize(wxSizeEvent& event);
    void OnMotion(wxMouseEvent& event);
    void OnLeave(wxMouseEvent& event);
    void Refit();

    const PowerDensity* m_psd = nullptr;
    const RecordingInfo* m_info = nullptr;
    std::vector<std::size_t> m_shown;
    LevelScale m_level = LevelScale::Decibel;
    FrequencyScale m_frequency = FrequencyScale::Linear;
    PowerDensityPlot m_plot;
    ViewTheme m_theme;
    wxString m_notice;
    std::vector<wxPoint> m_points;  // reused by every trace
};

}  // namespace tamix
