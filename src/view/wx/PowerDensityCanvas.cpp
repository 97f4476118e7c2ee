#include "view/wx/PowerDensityCanvas.h"

#include <wx/dcbuffer.h>
#include <wx/settings.h>

#include <algorithm>

#include "base/ChannelLabel.h"
#include "view/ReviewReadout.h"

namespace tamix {
namespace {

constexpr int kTickLength = 4;
constexpr int kXTickGap = 80;  // pixels between labelled ticks, at least
constexpr int kYTickGap = 40;
constexpr int kMargin = 8;

wxString W(std::string_view s) {
    return wxString::FromUTF8(s.data(), s.size());
}

}  // namespace

PowerDensityCanvas::PowerDensityCanvas(wxWindow* parent)
    : wxWindow(parent, wxID_ANY, wxDefaultPosition, wxSize(700, 450), wxFULL_REPAINT_ON_RESIZE) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    SetFont(*wxNORMAL_FONT);
    Bind(wxEVT_PAINT, &PowerDensityCanvas::OnPaint, this);
    Bind(wxEVT_SIZE, &PowerDensityCanvas::OnSize, this);
    Bind(wxEVT_MOTION, &PowerDensityCanvas::OnMotion, this);
    Bind(wxEVT_LEAVE_WINDOW, &PowerDensityCanvas::OnLeave, this);
}

void PowerDensityCanvas::SetPowerDensity(const PowerDensity* psd, const RecordingInfo* info) {
    m_psd = psd;
    m_info = info;
    Refit();
}

void PowerDensityCanvas::ShowChannels(std::vector<std::size_t> shown, LevelScale level,
                                      FrequencyScale frequency) {
    m_shown = std::move(shown);
    m_level = level;
    m_frequency = frequency;
    Refit();
}

void PowerDensityCanvas::SetNotice(const wxString& notice) {
    if (m_notice == notice) return;
    m_notice = notice;
    Refresh(false);
}

void PowerDensityCanvas::Refit() {
    // The margins hold the level ticks' texts at the left, the frequency
    // ticks' and the axis's name below, the unit above.
    const wxSize text = GetTextExtent("-1.00e-000");
    const wxSize size = GetClientSize();
    PlotArea area;
    area.left = text.x + kTickLength + 2 * kMargin;
    area.top = text.y + 2 * kMargin;
    area.width = std::max(size.x - area.left - 3 * kMargin, 10);
    area.height = std::max(size.y - area.top - 2 * text.y - 2 * kMargin - kTickLength, 10);
    m_plot.SetArea(area);
    if (m_psd != nullptr) m_plot.Fit(*m_psd, m_shown, m_level, m_frequency);
    Refresh(false);
}

void PowerDensityCanvas::OnSize(wxSizeEvent& event) {
    Refit();
    event.Skip();
}

wxString PowerDensityCanvas::ReadoutAt(int x, int y) const {
    const PlotArea& a = m_plot.Area();
    if (m_psd == nullptr || m_info == nullptr || x < a.left || x >= a.left + a.width || y < a.top ||
        y >= a.top + a.height) {
        return {};
    }
    const std::size_t bin = m_plot.BinAt(x, *m_psd);
    return W(PowerDensityReadout(*m_psd, m_shown, *m_info, bin, m_level));
}

void PowerDensityCanvas::OnMotion(wxMouseEvent& event) {
    if (onReadout) onReadout(ReadoutAt(event.GetX(), event.GetY()));
    event.Skip();
}

void PowerDensityCanvas::OnLeave(wxMouseEvent& event) {
    if (onReadout) onReadout(wxString());
    event.Skip();
}

void PowerDensityCanvas::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    const wxColour background = wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW);
    if (!m_theme.background.IsOk() || m_theme.background != background) {
        m_theme = ViewTheme::For(background);
    }
    dc.SetBackground(wxBrush(m_theme.background));
    dc.Clear();
    dc.SetFont(*wxNORMAL_FONT);
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    dc.SetTextForeground(m_theme.ink);
    const wxSize size = GetClientSize();
    if (m_psd == nullptr || m_info == nullptr || !m_notice.empty()) {
        const wxSize extent = dc.GetTextExtent(m_notice);
        dc.DrawText(m_notice, (size.x - extent.x) / 2, (size.y - extent.y) / 2);
        return;
    }
    const PlotArea& a = m_plot.Area();
    const int right = a.left + a.width - 1;
    const int bottom = a.top + a.height - 1;

    // Grid and ticks.
    dc.SetPen(wxPen(m_theme.zeroLine, 1, wxPENSTYLE_DOT));
    for (const AxisTick& t : m_plot.FrequencyTicks(kXTickGap)) {
        if (!t.text.empty()) dc.DrawLine(t.pixel, a.top, t.pixel, bottom);
    }
    for (const AxisTick& t : m_plot.LevelTicks(kYTickGap))
        dc.DrawLine(a.left, t.pixel, right, t.pixel);
    dc.SetPen(wxPen(m_theme.ink));
    dc.SetBrush(*wxTRANSPARENT_BRUSH);
    dc.DrawRectangle(a.left, a.top, a.width, a.height);
    const int textHeight = dc.GetCharHeight();
    for (const AxisTick& t : m_plot.FrequencyTicks(kXTickGap)) {
        const int length = t.text.empty() ? kTickLength / 2 : kTickLength;
        dc.DrawLine(t.pixel, bottom, t.pixel, bottom + length);
        if (t.text.empty()) continue;
        const wxString text = W(t.text);
        const int w = dc.GetTextExtent(text).x;
        dc.DrawText(text, std::clamp(t.pixel - w / 2, 0, std::max(size.x - w, 0)),
                    bottom + kTickLength + 1);
    }
    for (const AxisTick& t : m_plot.LevelTicks(kYTickGap)) {
        dc.DrawLine(a.left - kTickLength, t.pixel, a.left, t.pixel);
        const wxString text = W(t.text);
        const wxSize extent = dc.GetTextExtent(text);
        dc.DrawText(text, a.left - kTickLength - 2 - extent.x, t.pixel - extent.y / 2);
    }
    const wxString xName = m_frequency == FrequencyScale::Logarithmic
                               ? "Frequency (Hz, logarithmic)"
                               : "Frequency (Hz)";
    dc.DrawText(xName, a.left + (a.width - dc.GetTextExtent(xName).x) / 2,
                bottom + kTickLength + textHeight + 2);

    // The level's unit: the first shown channel's, which all others share
    // unless the recording mixes units.
    wxString unit = "Power density";
    if (!m_shown.empty() && m_shown.front() < m_psd->channels.size()) {
        const std::size_t c = m_psd->channels[m_shown.front()].channel;
        const std::string density = DensityUnit(m_info->channels[c]);
        unit += m_level == LevelScale::Decibel ? " (dB re 1 " + W(density) + ")"
                                               : " (" + W(density) + ")";
    }
    dc.DrawText(unit, kMargin, kMargin);

    // Traces, and their names in their colours along the top of the plot.
    int nameX = a.left + kMargin;
    for (const std::size_t j : m_shown) {
        if (j >= m_psd->channels.size()) continue;
        const ChannelPowerDensity& cs = m_psd->channels[j];
        const wxColour colour = m_theme.trace[ColourSlot(m_info->channels[cs.channel], cs.channel)];
        m_points.clear();
        for (const PlotPoint& p : m_plot.Trace(*m_psd, cs.density)) m_points.emplace_back(p.x, p.y);
        dc.SetPen(wxPen(colour));
        if (m_points.size() > 1) {
            dc.DrawLines(static_cast<int>(m_points.size()), m_points.data());
        } else if (m_points.size() == 1) {
            dc.DrawPoint(m_points.front());
        }
        const wxString name = W(ChannelLabel(m_info->channels[cs.channel], cs.channel));
        dc.SetTextForeground(colour);
        dc.DrawText(name, nameX, a.top + kMargin / 2);
        nameX += dc.GetTextExtent(name).x + 2 * kMargin;
    }
    dc.SetTextForeground(m_theme.ink);
}

}  // namespace tamix
