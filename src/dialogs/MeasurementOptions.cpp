#include "dialogs/MeasurementOptions.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

#include "acquisition/MeasurementSetup.h"
#include "base/ProfileKeys.h"
#include "base/Utf8Text.h"
#include "dialogs/OptionChecks.h"

namespace tamix {

namespace id = options_id;
namespace key = profile;

MeasurementOptions::MeasurementOptions(const IniFile& profile) {
    m_strNames.fill("chn");
    m_strUnits.fill("Volt");
    m_dValues1V.fill(1.0);
    m_dValues0V.fill(0.0);
    LoadSettings(profile);
    UpdateApproxSize();
    m_nChannelRadio = 0;
    ShowChannel();
}

namespace {

// "key=value" as the file has it, for messages; long values shortened.
std::string KeyValue(const IniFile& p, std::string_view section, std::string_view key,
                     std::string_view fallback) {
    constexpr std::size_t kShown = 40;
    const std::string value = p.GetString(section, key, fallback);
    const std::string_view shown = Utf8Prefix(value, kShown, kShown * 4);
    return std::string(key) + "=" + std::string(shown) + (shown.size() < value.size() ? "..." : "");
}

std::string Found(const IniFile& p, std::string_view section, std::string_view key,
                  std::string_view fallback) {
    return "[" + std::string(section) + "] " + KeyValue(p, section, key, fallback);
}

// A number typed into the dialog must also be finite; "Please enter a number."
// as for text without one, and the member keeps its value.
bool FiniteNumber(ControlAccess& c, int id, bool save, double& value) {
    double read = value;
    if (!ddx::Number(c, id, save, read)) return false;
    if (save && !std::isfinite(read)) {
        c.Fail(id, "Please enter a number.", false);
        return false;
    }
    value = read;
    return true;
}

std::string CalibrationMessage(CalibrationFault fault) {
    return "The calibration is not usable: " + std::string(Describe(fault)) + ".";
}

}  // namespace

void MeasurementOptions::Repair(SettingRepair::Field field, int input, std::string found,
                                std::string_view reason) {
    repairs_.push_back({field, input, std::move(found), std::string(reason)});
}

void MeasurementOptions::LoadSettings(const IniFile& p) {
    using Field = SettingRepair::Field;
    repairs_.clear();
    for (int i = 0; i < 8; ++i) {
        const int fallback = i < 4 ? 1 : 0;
        m_bChannel[i] = p.GetInt(key::kOptions, key::ChannelTicked(i), fallback);
        if (m_bChannel[i] != 0 && m_bChannel[i] != 1) {
            Repair(Field::ChannelTicked, i, Found(p, key::kOptions, key::ChannelTicked(i), ""),
                   "not 0 or 1");
            m_bChannel[i] = fallback;
        }
    }
    m_nFreqIndex = p.GetInt(key::kOptions, key::kFreq, 2);
    m_nFileType = p.GetInt(key::kOptions, key::kFileType, 0);
    m_dTotalTime = p.GetReal(key::kOptions, key::kTime, "30.0");
    m_nTimeUnit = p.GetInt(key::kOptions, key::kTimeUnit, 0);
    for (int i = 0; i < 8; ++i) {
        m_strNames[i] = p.GetString(key::kChannelInfo, key::Name(i), "chn");
        m_strUnits[i] = p.GetString(key::kChannelInfo, key::Unit(i), "Volt");
        m_dValues1V[i] = p.GetReal(key::kChannelInfo, key::ValueAt1V(i), "1.0");
        m_dValues0V[i] = p.GetReal(key::kChannelInfo, key::ValueAt0V(i), "0.0");
        const CalibrationFault fault = CheckCalibration(m_dValues1V[i], m_dValues0V[i]);
        if (fault != CalibrationFault::None) {
            Repair(Field::Calibration, i,
                   Found(p, key::kChannelInfo, key::ValueAt1V(i), "1.0") + ", " +
                       KeyValue(p, key::kChannelInfo, key::ValueAt0V(i), "0.0"),
                   Describe(fault));
            m_dValues1V[i] = 1.0;
            m_dValues0V[i] = 0.0;
        }
    }
    if (m_nFileType < 0 || m_nFileType > 1) {
        Repair(Field::FileType, -1, Found(p, key::kOptions, key::kFileType, ""),
               "not 0 (WinDaq binary) or 1 (text)");
        m_nFileType = 0;
    }
    if (m_nFreqIndex < 0 || m_nFreqIndex >= kFreqIndexes) {
        Repair(Field::FreqIndex, -1, Found(p, key::kOptions, key::kFreq, ""),
               "not a list index from 0 to " + std::to_string(kFreqIndexes - 1));
        m_nFreqIndex = std::clamp(m_nFreqIndex, 0, kFreqIndexes - 1);
    }
    // The time and its unit make one duration: a bad one gives the default 30 min.
    if (m_nTimeUnit != 0 && m_nTimeUnit != 1) {
        Repair(Field::TimeUnit, -1, Found(p, key::kOptions, key::kTimeUnit, ""),
               "not 0 (minutes) or 1 (hours)");
        m_nTimeUnit = 0;
        m_dTotalTime = 30.0;
    }
    if (!TotalTimeAllowed(m_dTotalTime)) {
        Repair(Field::TotalTime, -1, Found(p, key::kOptions, key::kTime, "30.0"),
               "not a number from " + ddx::FormatNumber(kMinTotalTime) + " to " +
                   ddx::FormatNumber(kMaxTotalTime));
        m_dTotalTime = 30.0;
        m_nTimeUnit = 0;
    }
}

void MeasurementOptions::SaveSettings(IniFile& p) const {
    for (int i = 0; i < 8; ++i) p.SetInt(key::kOptions, key::ChannelTicked(i), m_bChannel[i]);
    p.SetInt(key::kOptions, key::kFreq, m_nFreqIndex);
    p.SetInt(key::kOptions, key::kFileType, m_nFileType);
    p.SetReal(key::kOptions, key::kTime, m_dTotalTime);
    p.SetInt(key::kOptions, key::kTimeUnit, m_nTimeUnit);
    for (int i = 0; i < 8; ++i) {
        p.SetString(key::kChannelInfo, key::Name(i), m_strNames[i]);
        p.SetString(key::kChannelInfo, key::Unit(i), m_strUnits[i]);
        p.SetReal(key::kChannelInfo, key::ValueAt1V(i), m_dValues1V[i]);
        p.SetReal(key::kChannelInfo, key::ValueAt0V(i), m_dValues0V[i]);
    }
}

bool MeasurementOptions::Exchange(ControlAccess& c, bool save) {
    for (int i = 0; i < 8; ++i) {
        if (save) {
            m_bChannel[i] = c.GetCheck(id::kChannel0 + i);
        } else {
            if (m_bChannel[i] < 0 || m_bChannel[i] > 2) m_bChannel[i] = 0;
            c.SetCheck(id::kChannel0 + i, m_bChannel[i]);
        }
    }
    if (save) {
        m_nFreqIndex = c.GetSelection(id::kFrequency);
        m_strFileName = c.GetText(id::kFileName);
        m_nFileType = c.GetSelection(id::kFileType);
    } else {
        c.SetSelection(id::kFrequency, m_nFreqIndex);
        c.SetText(id::kFileName, m_strFileName);
        c.SetSelection(id::kFileType, m_nFileType);
    }
    if (!ddx::Number(c, id::kTotalTime, save, m_dTotalTime)) return false;
    if (!ddx::Range(c, id::kTotalTime, save, m_dTotalTime, kMinTotalTime, kMaxTotalTime)) {
        return false;
    }
    if (save) {
        m_strApproxSize = c.GetText(id::kApproxSize);
        m_nSaveMode = c.GetRadio(id::kScreenOnly, 2);
    } else {
        c.SetText(id::kApproxSize, m_strApproxSize);
        c.SetRadio(id::kScreenOnly, 2, m_nSaveMode);
    }
    if (!FiniteNumber(c, id::kValueAt0V, save, m_dValueAt0V)) return false;
    if (!FiniteNumber(c, id::kValueAt1V, save, m_dValueAt1V)) return false;
    if (save) {
        const CalibrationFault fault = CheckCalibration(m_dValueAt1V, m_dValueAt0V);
        if (fault != CalibrationFault::None) {
            c.Fail(id::kValueAt1V, CalibrationMessage(fault), true);
            return false;
        }
    }
    if (save) {
        m_strSignalName = c.GetComboText(id::kSignalName);
    } else {
        c.SetComboText(id::kSignalName, m_strSignalName);
    }
    if (!ddx::MaxChars(c, id::kSignalName, save, m_strSignalName, kNameChars)) return false;
    if (save) {
        m_strUnit = c.GetComboText(id::kUnit);
    } else {
        c.SetComboText(id::kUnit, m_strUnit);
    }
    if (!ddx::MaxChars(c, id::kUnit, save, m_strUnit, kUnitChars)) return false;
    if (save) {
        m_nChannelRadio = c.GetRadio(id::kChannelRadio0, 8);
        m_nTimeUnit = c.GetSelection(id::kTimeUnit);
    } else {
        c.SetRadio(id::kChannelRadio0, 8, m_nChannelRadio);
        c.SetSelection(id::kTimeUnit, m_nTimeUnit);
    }
    return true;
}

void MeasurementOptions::StoreShownChannel() {
    if (m_nEditedChannel < 0 || m_nEditedChannel > 7) return;
    m_strNames[m_nEditedChannel] = m_strSignalName;
    m_strUnits[m_nEditedChannel] = m_strUnit;
    m_dValues1V[m_nEditedChannel] = m_dValueAt1V;
    m_dValues0V[m_nEditedChannel] = m_dValueAt0V;
}

void MeasurementOptions::ShowChannel() {
    // A radio group read with nothing checked gives -1; keep the shown input then.
    if (m_nChannelRadio < 0 || m_nChannelRadio > 7) m_nChannelRadio = m_nEditedChannel;
    m_strSignalName = m_strNames[m_nChannelRadio];
    m_strUnit = m_strUnits[m_nChannelRadio];
    m_dValueAt1V = m_dValues1V[m_nChannelRadio];
    m_dValueAt0V = m_dValues0V[m_nChannelRadio];
    m_nEditedChannel = m_nChannelRadio;
}

double EstimateBytes(int channels, int fileType, int freqIndex, double totalTime, int timeUnit) {
    const bool text = fileType == 1;
    const long long perScan = text ? 6LL * channels + 8 : 2LL * channels;
    const double fixed = text ? 0.0 : 2156.0;
    const double seconds = totalTime * (timeUnit != 0 ? 3600.0 : 60.0);
    return std::ldexp(static_cast<double>(perScan * 2000), -freqIndex) * seconds + fixed;
}

void MeasurementOptions::UpdateApproxSize() {
    const int n = static_cast<int>(
        std::count_if(m_bChannel.begin(), m_bChannel.end(), [](int b) { return b != 0; }));
    const double mbytes =
        EstimateBytes(n, m_nFileType, m_nFreqIndex, m_dTotalTime, m_nTimeUnit) / 1048576.0;
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, mbytes, std::chars_format::fixed, 2);
    m_strApproxSize = std::string(buf, r.ptr) + " Mbytes";
}

void MeasurementOptions::ConvertTotalTime() {
    if (m_nTimeUnit != 0) {
        m_dTotalTime /= 60.0;
    } else {
        m_dTotalTime *= 60.0;
    }
}

bool MeasurementOptions::ApplyFileNameRule() {
    if (!m_strFileName.empty() && m_nSaveMode == 0) {
        m_nSaveMode = 1;
        return true;
    }
    if (m_strFileName.empty() && m_nSaveMode == 1) {
        m_nSaveMode = 0;
        return true;
    }
    return false;
}

std::optional<int> FileTypeNamed(std::string_view name) {
    const auto endsWith = [name](std::string_view ext) {
        if (name.size() <= ext.size()) return false;
        const std::string_view tail = name.substr(name.size() - ext.size());
        return std::equal(tail.begin(), tail.end(), ext.begin(), [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) == b;
        });
    };
    if (endsWith(".wdq")) return 0;
    if (endsWith(".dat")) return 1;
    return std::nullopt;
}

std::string ApplyExtension(std::string_view name, int fileType) {
    const std::string_view ext = fileType == 1 ? ".dat" : ".wdq";
    std::string result(name);
    if (result.find(ext) == std::string::npos) result += ext;
    return result;
}

std::string MeasurementOptions::CheckForOk() const {
    for (int i = 0; i < 8; ++i) {
        if (m_bChannel[i] == 0) continue;
        // The shown input's fields reach its entry only in TransferToSetup.
        const bool shown = i == m_nChannelRadio;
        const CalibrationFault fault = CheckCalibration(shown ? m_dValueAt1V : m_dValues1V[i],
                                                        shown ? m_dValueAt0V : m_dValues0V[i]);
        if (fault != CalibrationFault::None) {
            return "Input " + std::string(kInputLabels[i]) + ": " + CalibrationMessage(fault);
        }
    }
    if (m_nSaveMode == 0) return {};
    // An empty name would make a hidden ".wdq" or ".dat" in the working folder.
    const std::size_t slash = m_strFileName.find_last_of("/\\");
    const std::string_view base =
        std::string_view(m_strFileName).substr(slash == std::string::npos ? 0 : slash + 1);
    if (base.find_first_not_of(" \t") == std::string_view::npos) {
        return "Please enter a name for the output file.";
    }
    const std::string name = ApplyExtension(m_strFileName, m_nFileType);
    if (name.size() >= kPathBytes) {
        return "The output file name is too long: at most " + std::to_string(kPathBytes - 1) +
               " bytes are possible.";
    }
    return {};
}

void MeasurementOptions::TransferToSetup(MeasurementSetup& setup, IniFile& profile) {
    m_nEditedChannel = m_nChannelRadio;
    StoreShownChannel();
    SaveSettings(profile);
    FillSetup(setup);
}

void MeasurementOptions::FillSetup(MeasurementSetup& setup) const {
    setup.channelCount = 0;
    for (int i = 0; i < 8; ++i) {
        if (m_bChannel[i] == 0) continue;
        ChannelInfo& ch = setup.channels[setup.channelCount];
        ch.inputNumber = i;
        CopyText(ch.name, m_strNames[i], kNameChars);
        // Right-aligned in four characters, as the file formats show units.
        const std::string_view unit = Utf8Prefix(m_strUnits[i], kUnitChars, kUnitBytes - 2);
        const std::size_t chars = Utf8Length(unit);
        CopyText(ch.unit,
                 std::string(kUnitChars - std::min(chars, kUnitChars), ' ') + std::string(unit),
                 kUnitChars);
        ch.valueAt1V = m_dValues1V[i];
        ch.valueAt0V = m_dValues0V[i];
        ++setup.channelCount;
    }
    setup.freqIndex = m_nFreqIndex;
    setup.fileType = FileTypeOf(m_nFileType);
    setup.SetOutputFileName(m_nSaveMode != 0 ? ApplyExtension(m_strFileName, m_nFileType)
                                             : std::string());
    setup.totalTime = m_dTotalTime * (m_nTimeUnit == 0 ? 60.0 : 3600.0);
    setup.saveToFile = m_nSaveMode != 0 ? SaveMode::ToFile : SaveMode::ScreenOnly;
}

std::string MeasurementOptions::BrowseInitialName() const {
    return m_nFileType == 1 ? "x.dat" : "x.wdq";
}

std::string MeasurementOptions::BrowseFilter() const {
    return m_nFileType == 1
               ? "Data files (*.dat) |*.dat|WinDAQ files (*.wdq) |*.wdq|All files (*.*) |*.*"
               : "WinDAQ files (*.wdq) |*.wdq|Data files (*.dat) |*.dat|All files (*.*) |*.*";
}

void MeasurementOptions::AcceptBrowsedName(std::string_view path) {
    m_nSaveMode = 1;
    if (const std::optional<int> type = FileTypeNamed(path)) m_nFileType = *type;
    m_strFileName = ApplyExtension(path, m_nFileType);
}

void MeasurementOptions::UpdateUnitLabels(ControlAccess& c) {
    Exchange(c, true);
    c.SetText(id::kUnitLabel1V, m_strUnit);
    c.SetText(id::kUnitLabel0V, m_strUnit);
}

void MeasurementOptions::OnChannelClicked(ControlAccess& c, int input) {
    Exchange(c, true);
    StoreShownChannel();
    m_nChannelRadio = input;
    ShowChannel();
    UpdateApproxSize();
    Exchange(c, false);
    UpdateUnitLabels(c);
}

void MeasurementOptions::OnChannelRadio(ControlAccess& c) {
    Exchange(c, true);
    StoreShownChannel();
    ShowChannel();
    Exchange(c, false);
    UpdateUnitLabels(c);
}

void MeasurementOptions::OnEstimateInputChanged(ControlAccess& c) {
    Exchange(c, true);
    // A type chosen after the name was typed renames its extension to match.
    if (const std::optional<int> named = FileTypeNamed(m_strFileName);
        named && *named != m_nFileType) {
        m_strFileName.resize(m_strFileName.size() - 4);
        m_strFileName += m_nFileType == 1 ? ".dat" : ".wdq";
    }
    UpdateApproxSize();
    Exchange(c, false);
}

void MeasurementOptions::OnTimeUnitChanged(ControlAccess& c) {
    Exchange(c, true);
    ConvertTotalTime();
    UpdateApproxSize();
    Exchange(c, false);
}

void MeasurementOptions::OnFileNameChanged(ControlAccess& c) {
    Exchange(c, true);
    // A typed ".wdq" or ".dat" chooses the type, shown before OK, so that the
    // file is what its name says (never "run.wdq.dat").
    if (const std::optional<int> named = FileTypeNamed(m_strFileName);
        named && *named != m_nFileType) {
        m_nFileType = *named;
        UpdateApproxSize();
        c.SetSelection(id::kFileType, m_nFileType);
        c.SetText(id::kApproxSize, m_strApproxSize);
    }
    if (ApplyFileNameRule()) Exchange(c, false);
}

void MeasurementOptions::OnUnitEdited(ControlAccess& c) {
    UpdateUnitLabels(c);
}

}  // namespace tamix
