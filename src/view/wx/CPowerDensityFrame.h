// The power density window: the power density of a span of a recording, computed
// on a thread of its own with a reader of its own, with the choice of
// channels and scales, the readout under the pointer, the strongest peaks and
// the export to CSV. It owns the power density. User interface thread only.
#pragma once

#include <wx/button.h>
#include <wx/checklst.h>
#include <wx/frame.h>
#include <wx/listbox.h>
#include <wx/radiobox.h>
#include <wx/stattext.h>
#include <wx/timer.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "control/UserInterface.h"
#include "recording/PowerDensity.h"
#include "recording/PowerDensityPeaks.h"
#include "recording/RecordingReader.h"
#include "view/PowerDensityBuilder.h"
#include "view/wx/PowerDensityCanvas.h"
#include "view/wx/WxUserInterface.h"

namespace tamix {

class CPowerDensityFrame;

// Opens a window with the power density of scans [first, last) of the recording at `path`, showing
// the channels at `channels` (positions in the recording) at first; it opens and reads the file
// itself. On failure tells `ui` the file and the reason and returns nullptr.
CPowerDensityFrame* OpenPowerDensityWindow(wxWindow* parent, const std::string& path, int64_t first,
                                           int64_t last, std::vector<std::size_t> channels,
                                           UserInterface& ui);

// Asks for the CSV file to write the power density to (empty when cancelled).
// Replaceable, so that the whole export can be tested.
using PowerDensityFilePicker =
    std::function<wxString(wxWindow* parent, const wxString& suggestion)>;
void SetPowerDensityFilePicker(PowerDensityFilePicker picker);

// The number of peaks the list shows for each channel.
inline constexpr std::size_t kListedPeaks = 5;

class CPowerDensityFrame final : public wxFrame {
  public:
    enum Id { ID_POWER_DENSITY_EXPORT = wxID_HIGHEST + 500 };
    // Status bar fields.
    enum Field { kReadout, kState, kFieldCount };

    CPowerDensityFrame(wxWindow* parent, std::unique_ptr<RecordingReader> reader, int64_t first,
                       int64_t last, const std::vector<std::size_t>& shown);
    ~CPowerDensityFrame() override;

    // True once the power density is computed and drawn.
    bool Ready() const { return m_psd != nullptr; }
    const PowerDensity* psd() const { return m_psd.get(); }
    PowerDensityCanvas& canvas() { return *m_canvas; }
    wxCheckListBox& channelList() { return *m_channels; }
    wxRadioBox& levelChoice() { return *m_level; }
    wxRadioBox& frequencyChoice() { return *m_frequency; }
    wxListBox& peakList() { return *m_peaks; }
    wxButton& exportButton() { return *m_export; }
    wxString NoteText() const { return m_note->GetLabel(); }
    wxString StatusText(int field) const;

    // Takes the controls' choices (channels, scales) into the plot and the peaks.
    void ChoicesChanged();

  private:
    void OnTimer(wxTimerEvent&);
    void OnClose(wxCloseEvent& event);
    void OnExport(wxCommandEvent&);
    void FillPeaks();
    std::vector<std::size_t> ShownChannels() const;
    void SetStatus(int field, const wxString& text);

    RecordingInfo m_info;  // the builder owns the reader
    std::unique_ptr<PowerDensity> m_psd;
    std::vector<std::vector<PowerDensityPeak>> m_channelPeaks;  // by position
    PowerDensityBuilder m_builder;
    PowerDensityCanvas* m_canvas = nullptr;
    wxCheckListBox* m_channels = nullptr;
    wxRadioBox* m_level = nullptr;
    wxRadioBox* m_frequency = nullptr;
    wxListBox* m_peaks = nullptr;
    wxStaticText* m_note = nullptr;
    wxButton* m_export = nullptr;
    wxTimer m_timer;
    WxUserInterface m_ui;
    wxString m_stateText;
};

}  // namespace tamix
