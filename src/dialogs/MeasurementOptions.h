// The logic of the Measurement Options dialog: its members, the profile it
// loads and saves, the exchange with its controls in their fixed order with
// validation, per-input editing, the size estimate, the time-unit conversion,
// the file-name and extension rules, and the transfer into the shared record.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/IniFile.h"
#include "dialogs/ControlAccess.h"

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
}  // namespace options_id

// A profile value that LoadSettings could not use as found and replaced by its
// default, so that a caller that must not guess (the recorder) can refuse it.
struct SettingRepair {
    enum class Field { ChannelTicked, FreqIndex, FileType, TotalTime, TimeUnit, Calibration };
    Field field;
    int input = -1;      // ChannelTicked and Calibration
    std::string found;   // as in the file, e.g. "[Options] time=abc"
    std::string reason;  // e.g. "not a number from 0.01 to 6000"
};

class MeasurementOptions {
  public:
    // Defaults, then the profile, the estimate, and input 1 shown.
    explicit MeasurementOptions(const IniFile& profile);

    // Reads the profile; a value the dialog would not accept (a time out of its
    // range or not a number, an index out of its list, a calibration that is
    // not finite or reads 1 V as 0 V) becomes its default and is listed in Repairs().
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
    // Extra checks on OK (the path's length, the calibration of every ticked
    // input, the shown one from its fields): a message to show, or empty.
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
    void Repair(SettingRepair::Field field, int input, std::string found, std::string_view reason);

    std::vector<SettingRepair> repairs_;
};

// The file type a name's own extension names: ".wdq" 0, ".dat" 1, in any case.
std::optional<int> FileTypeNamed(std::string_view name);

// ".wdq" (binary) or ".dat" (text) appended when the name does not contain it
// anywhere (case-sensitive).
std::string ApplyExtension(std::string_view name, int fileType);

// The size estimate in bytes for the dialog's choices.
double EstimateBytes(int channels, int fileType, int freqIndex, double totalTime, int timeUnit);

}  // namespace tamix
