// The review window: a recording on disk in a top-level window of its own, so
// that a measurement in the main window goes on. It owns the recording's
// reader and overview, builds the overview on a thread with progress shown,
// lists the markers, and exports to CSV or EDF+. User interface thread only.
#pragma once

#include <wx/frame.h>
#include <wx/listbox.h>
#include <wx/scrolbar.h>
#include <wx/textctrl.h>
#include <wx/timer.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "control/UserInterface.h"
#include "recording/MinMaxPyramid.h"
#include "recording/RecordingReader.h"
#include "view/OverviewBuilder.h"
#include "view/wx/ReviewCanvas.h"
#include "view/wx/WxUserInterface.h"

namespace tamix {

// Asks for the file to export to (empty when cancelled). Replaceable, so that
// the whole Export command can be tested.
using ExportFilePicker = std::function<wxString(wxWindow* parent, const wxString& suggestion)>;
void SetExportFilePicker(ExportFilePicker picker);

// Asks for a time to go to (empty when cancelled). Replaceable for tests.
using TimeAsker = std::function<wxString(wxWindow* parent, const wxString& current)>;
void SetTimeAsker(TimeAsker asker);

// Asks which channels an export of the span takes ("1,3" or names; empty for
// all); nothing when cancelled. Replaceable for tests.
using ChannelAsker = std::function<std::optional<wxString>(wxWindow* parent)>;
void SetChannelAsker(ChannelAsker asker);

// Asks for a marker's comment, starting from `current`; nothing when cancelled.
// Replaceable for tests.
using CommentAsker =
    std::function<std::optional<wxString>(wxWindow* parent, const wxString& current)>;
void SetCommentAsker(CommentAsker asker);

class CReviewFrame final : public wxFrame {
  public:
    enum Id {
        ID_REVIEW_EXPORT = wxID_HIGHEST + 400,
        ID_REVIEW_ZOOMIN,
        ID_REVIEW_ZOOMOUT,
        ID_REVIEW_WHOLE,
        ID_REVIEW_HOME,
        ID_REVIEW_END,
        ID_REVIEW_NEXTMARKER,
        ID_REVIEW_PREVMARKER,
        ID_REVIEW_CURSOR1,
        ID_REVIEW_CURSOR2,
        ID_REVIEW_CURSORLEFT,
        ID_REVIEW_CURSORRIGHT,
        ID_REVIEW_GOTOTIME,
        ID_REVIEW_CURSORSTOMARKERS,
        ID_REVIEW_CLEARCURSORS,
        ID_REVIEW_ZOOMSPAN,
        ID_REVIEW_EXPORTSPAN,
        ID_REVIEW_STATISTICS,
        ID_REVIEW_STATISTICSALL,
        ID_REVIEW_POWER_DENSITY,
        ID_REVIEW_ADDMARKER,
        ID_REVIEW_EDITMARKER,
        ID_REVIEW_DELETEMARKER,
        ID_REVIEW_SAVEMARKERS,
    };
    // Status bar fields.
    enum Field { kReadout, kState, kFieldCount };

    // Opens `path` for review; on failure tells `ui` the file and the
    // reader's reason and returns nullptr.
    static CReviewFrame* Open(const std::string& path, UserInterface& ui);

    ~CReviewFrame() override;

    // Closes every review window: the program ends with its main window, and
    // a review window left open would keep it running without one.
    static void CloseAll();

    ReviewCanvas& canvas() { return *m_canvas; }
    wxListBox& markerList() { return *m_markers; }
    wxScrollBar& scrollBar() { return *m_scroll; }
    // The cursors' readout and the statistics, as the panel shows them.
    wxTextCtrl& measurePanel() { return *m_measure; }
    RecordingReader& reader() { return *m_reader; }
    // True once the overview is built and drawn.
    bool Ready() const { return m_overview != nullptr; }
    wxString StatusText(int field) const;
    std::optional<std::size_t> currentMarker() const { return m_current; }
    // The markers as edited (the recording's until they are changed).
    const std::vector<RecordingMarker>& markers() const { return m_edited; }
    bool MarkersChanged() const { return m_markersChanged; }
    // The whole text of marker row `item` when the list is too narrow to
    // show it, for its tip; empty when the row shows all of it.
    wxString MarkerListTip(int item) const;

  private:
    CReviewFrame(std::unique_ptr<RecordingReader> reader, std::unique_ptr<RecordingReader> second);

    void OnTimer(wxTimerEvent&);
    // Takes in what a recording that is going on has added to its file.
    void FollowRecording();
    wxString RecordedState() const;
    void OnClose(wxCloseEvent& event);
    void OnScroll(wxScrollEvent& event);
    void OnMarkerChosen(wxCommandEvent& event);
    void OnMarkerListMotion(wxMouseEvent& event);
    void OnExport(wxCommandEvent& event);
    void OnCursorCommand(wxCommandEvent& event);
    void OnGoToTime(wxCommandEvent&);
    void OnZoomSpan(wxCommandEvent&);
    void OnStatistics(wxCommandEvent& event);
    void OnPowerDensity(wxCommandEvent&);
    void ShowStatistics(std::pair<int64_t, int64_t> span);
    // The span of the cursors; tells how to get one and gives nothing without.
    std::optional<std::pair<int64_t, int64_t>> CursorSpan();
    void CursorsChanged();
    void OnMarkerEdit(wxCommandEvent& event);
    void OnSaveMarkers(wxCommandEvent&);
    // Writes the edited markers into the recording; false after telling why.
    bool SaveMarkers();
    void ListMarkers();
    void MarkersEdited();
    void ShowMeasurements();
    // Exports scans [first, end) of the channels the user chooses; the whole
    // recording when empty.
    void Export(std::optional<std::pair<int64_t, int64_t>> span);
    void Export(std::optional<std::pair<int64_t, int64_t>> span, const std::string& channels);
    void OnZoom(wxCommandEvent& event);
    void OnEnds(wxCommandEvent& event);
    void OnMarkerStep(wxCommandEvent& event);
    void JumpToMarker(std::size_t m);
    void ViewChanged();
    void SetStatus(int field, const wxString& text);
    void ReadFailed(const std::string& error);

    std::unique_ptr<RecordingReader> m_reader;
    std::unique_ptr<MinMaxPyramid> m_overview;
    OverviewBuilder m_builder;
    ReviewCanvas* m_canvas = nullptr;
    wxListBox* m_markers = nullptr;
    wxScrollBar* m_scroll = nullptr;
    wxTextCtrl* m_measure = nullptr;
    std::vector<std::string> m_cursorLines;  // the cursors' readout, as last read
    std::string m_statistics;                // the last statistics table, if any
    std::vector<RecordingMarker> m_edited;   // the markers shown and saved
    bool m_markersChanged = false;
    bool m_statsFollowCursors = false;  // the statistics shown are of the cursors' span
    wxTimer m_timer;                    // polls the overview's builder
    wxTimer m_statsTimer;               // the statistics once a cursor has stood still a moment
    wxTimer m_followTimer;              // reads on in a recording that is being made
    WxUserInterface m_ui;
    int64_t m_scrollUnit = 1;  // scans per scroll-bar step
    wxString m_stateText;
    std::optional<std::size_t> m_current;  // the marker last jumped to
    bool m_jumping = false;
    bool m_readFailed = false;  // told once; the window stays for what it still shows

    wxDECLARE_EVENT_TABLE();
};

}  // namespace tamix
