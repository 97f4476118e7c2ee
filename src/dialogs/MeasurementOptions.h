// The logic of the Measurement Options dialog: its members, the exchange with
// its controls in their fixed order with validation, per-input editing, the
// size estimate, the time-unit conversion and the file-name rules. The profile,
// the checks on OK and the transfer into the shared record go through the
// measurement choices the recorder shares.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/IniFile.h"
#include "dialogs/ChoicesProfile.h"
#include "dialogs/ControlAccess.h"
#include "dialogs/MeasurementChoices.h"

namespace tamix {

struct MeasurementSetup;

// Control identifiers of the dialog template.
namespace options_id {
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
inline constexpr int kChannel0 = 1000;  // 1000..1007 check boxes
inline constexpr int kFileType = 1017;
inline constexpr int kFileName = 1018;
inline constexpr int kTotalTime = 1019;
inline constexpr int kFrequency = 1020;
inline constexpr int kSignalName = 1021;
inline constexpr int kApproxSize = 1029;
inline constexpr int kBrowse = 1031;
inline constexpr int kScreenOnly = 1032;
inline constexpr int kSaveToFile = 1033;
inline constexpr int kUnit = 1037;
inline constexpr int kValueAt1V = 1039;
inline constexpr int kValueAt0V = 1040;
inline constexpr int kUnitLabel1V = 1041;
inline constexpr int kUnitLabel0V = 1042;
inline constexpr int kChannelRadio0 = 1043;  // 1043..1050
inline constexpr int kTimeUnit = 1052;
inline constexpr int kSplitEvery = 1053;
}  // namespace options_id

class MeasurementOptions {
  public:
    // Defaults, then the profile, the estimate, and input 1 shown.
    explicit MeasurementOptions(const IniFile& profile);

    // Reads the profile's choices into the members (LoadChoices, whose repairs
    // Repairs() lists).
    void LoadSettings(const IniFile& profile);
    const std::vector<SettingRepair>& Repairs() const { return repairs_; }
    void SaveSettings(IniFile& profile) const;

    // Fills the controls (save false) or reads and validates them (save true)
    // in the dialog's fixed order; false when a check failed (reported through
    // `controls`, whose Fail moved the focus). Members before the failing one
    // keep their new values.
    bool Exchange(ControlAccess& controls, bool save);

    void StoreShownChannel();
    void ShowChannel();
    void UpdateApproxSize();
    // After the time unit changed: keep the duration, in the new unit.
    void ConvertTotalTime();
    // The file-name rule: an entered name selects "Save data to file", an
    // emptied one "View data on screen only". True when the save mode changed.
    bool ApplyFileNameRule();
    // The members as measurement choices: the inputs' entries as stored (the
    // shown fields reach them only through StoreShownChannel).
    MeasurementChoices Choices() const;
    // Extra checks on OK (CheckChoices, with the shown input taken from its
    // fields): a message to show, or empty.
    std::string CheckForOk() const;
    // After OK: the choices put into `profile` (the caller saves it) and the
    // results written into `setup`.
    void TransferToSetup(MeasurementSetup& setup, IniFile& profile);
    // The results alone, without touching the profile (the command-line recorder).
    void FillSetup(MeasurementSetup& setup) const;

    // The save dialog's initial name and filter list ("description|pattern|...").
    std::string BrowseInitialName() const;
    std::string BrowseFilter() const;
    // Browse chose `path`: save mode on, the name with its extension.
    void AcceptBrowsedName(std::string_view path);

    // Handlers of the dialog, each a whole exchange round as the dialog runs it.
    void OnChannelClicked(ControlAccess& c, int input);
    void OnChannelRadio(ControlAccess& c);
    void OnEstimateInputChanged(ControlAccess& c);  // type, frequency, total time
    void OnTimeUnitChanged(ControlAccess& c);
    void OnFileNameChanged(ControlAccess& c);
    void OnUnitEdited(ControlAccess& c);  // also updates the unit labels

    std::array<int, 8> m_bChannel{1, 1, 1, 1, 0, 0, 0, 0};
    int m_nFreqIndex = 2;
    std::string m_strFileName;
    // How often the recording begins its next file, as typed ("1h"); empty: never.
    std::string m_strSplitEvery;
    int m_nFileType = 0;
    double m_dTotalTime = 30.0;
    int m_nTimeUnit = 0;
    std::string m_strApproxSize;
    int m_nSaveMode = 0;
    int m_nChannelRadio = 0;
    int m_nEditedChannel = 0;
    std::string m_strSignalName;
    std::string m_strUnit;
    double m_dValueAt1V = 1.0;
    double m_dValueAt0V = 0.0;
    std::array<std::string, 8> m_strNames;
    std::array<std::string, 8> m_strUnits;
    std::array<double, 8> m_dValues1V{};
    std::array<double, 8> m_dValues0V{};

  private:
    void UpdateUnitLabels(ControlAccess& c);

    std::vector<SettingRepair> repairs_;
};

// The size estimate in bytes for the dialog's choices.
double EstimateBytes(int channels, int fileType, int freqIndex, double totalTime, int timeUnit);

}  // namespace tamix
