// The Measurement Options dialog: wires the template's controls to the
// MeasurementOptions logic. Lives on the Start command's stack for one use.
#pragma once

#include <wx/dialog.h>

#include <map>

#include "dialogs/ControlAccess.h"
#include "dialogs/MeasurementOptions.h"

class wxCheckBox;
class wxChoice;
class wxComboBox;
class wxRadioButton;
class wxStaticText;
class wxTextCtrl;

namespace tamix {

class CMeasurementOptionsDlg final : public wxDialog, public ControlAccess {
  public:
    CMeasurementOptionsDlg(wxWindow* parent, IniFile& profile);

    MeasurementOptions& options() { return m_options; }
    // After OK: saves the profile and fills the shared record.
    void TransferToSetup(MeasurementSetup& setup);

    bool TransferDataToWindow() override;
    // Reads and validates every control; false keeps the dialog open.
    bool TransferDataFromWindow() override;

    int GetCheck(int id) const override;
    void SetCheck(int id, int state) override;
    std::string GetText(int id) const override;
    void SetText(int id, std::string_view text) override;
    int GetSelection(int id) const override;
    void SetSelection(int id, int index) override;
    std::string GetComboText(int id) const override;
    void SetComboText(int id, std::string_view text) override;
    int GetRadio(int firstId, int count) const override;
    void SetRadio(int firstId, int count, int position) override;
    void Fail(int id, std::string_view message, bool exclamation) override;

  private:
    void OnChannelBox(wxCommandEvent& event);
    void OnChannelRadio(wxCommandEvent& event);
    void OnEstimateInput(wxCommandEvent& event);
    void OnTimeUnit(wxCommandEvent& event);
    void OnFileName(wxCommandEvent& event);
    void OnUnitSelected(wxCommandEvent& event);
    void OnUnitEdited(wxCommandEvent& event);
    void OnBrowse(wxCommandEvent& event);
    void OnOk(wxCommandEvent& event);

    // While a handler reads and refills the controls (not at OK).
    class HandlerRound {
      public:
        explicit HandlerRound(CMeasurementOptionsDlg& dlg);
        ~HandlerRound();
        HandlerRound(const HandlerRound&) = delete;
        HandlerRound& operator=(const HandlerRound&) = delete;

      private:
        CMeasurementOptionsDlg& m_dlg;
    };

    IniFile& m_profile;
    MeasurementOptions m_options;
    bool m_bFilling = false;  // no handlers while the controls are being filled
    bool m_bHandlerRound = false;
    mutable bool m_bTotalTimeHeld = false;  // the round works with the last complete time
};

}  // namespace tamix
