// The spectrum window's plot: the chosen channels' spectra in their trace
// colours on linear or logarithmic axes with ticks, and the readout of the
// frequency and levels under the pointer. Its frame owns the spectrum. User
// interface thread only.
#pragma once

#include <wx/window.h>

#include <functional>
#include <string>
#include <vector>

#include "recording/RecordingReader.h"
#include "recording/Spectrum.h"
#include "view/SpectrumPlot.h"
#include "view/wx/ViewTheme.h"

namespace tamix {

class SpectrumCanvas final : public wxWindow {
  public:
    explicit SpectrumCanvas(wxWindow* parent);

    // What to draw; both stay owned by the frame and outlive their use here.
    // `spectrum` is null while it is being computed.
    void SetSpectrum(const Spectrum* spectrum, const RecordingInfo* info);
    // The channels drawn (indices into the spectrum's channels) and the scales.
    void ShowChannels(std::vector<std::size_t> shown, LevelScale level, FrequencyScale frequency);
    // A line shown instead of the plot (progress, failure).
    void SetNotice(const wxString& notice);

    const SpectrumPlot& plot() const { return m_plot; }
    const std::vector<std::size_t>& shown() const { return m_shown; }
    // The readout for client x, y: empty off the plot or without a spectrum.
    wxString ReadoutAt(int x, int y) const;

    // Called with the readout text when the pointer moves (empty off the plot).
    std::function<void(const wxString&)> onReadout;

  private:
    void OnPaint(wxPaintEvent&);
    void OnSize(wxSizeEvent& event);
    void OnMotion(wxMouseEvent& event);
    void OnLeave(wxMouseEvent& event);
    void Refit();

    const Spectrum* m_spectrum = nullptr;
    const RecordingInfo* m_info = nullptr;
    std::vector<std::size_t> m_shown;
    LevelScale m_level = LevelScale::Decibel;
    FrequencyScale m_frequency = FrequencyScale::Linear;
    SpectrumPlot m_plot;
    ViewTheme m_theme;
    wxString m_notice;
    std::vector<wxPoint> m_points;  // reused by every trace
};

}  // namespace tamix
