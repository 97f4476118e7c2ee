#include "dialogs/MeasurementOptions.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "dialogs/OptionChecks.h"
#include "dialogs/SplitEvery.h"

namespace tamix {

namespace id = options_id;

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

}  // namespace

void MeasurementOptions::LoadSettings(const IniFile& p) {
    MeasurementChoices c;
    LoadChoices(p, c, repairs_);
    for (std::size_t i = 0; i < c.inputs.size(); ++i) {
        const InputChoice& in = c.inputs[i];
        m_bChannel[i] = in.recorded ? 1 : 0;
        m_strNames[i] = in.name;
        m_strUnits[i] = in.unit;
        m_dValues1V[i] = in.calibration.valueAt1V;
        m_dValues0V[i] = in.calibration.valueAt0V;
    }
    m_nFreqIndex = c.freqIndex;
    m_nFileType = static_cast<int>(c.fileType);
    // The profile holds minutes or hours only.
    m_dTotalTime = c.duration.amount;
    m_nTimeUnit = c.duration.unit == TimeUnit::Hours ? 1 : 0;
    m_strSplitEvery = c.splitEvery;
}

void MeasurementOptions::SaveSettings(IniFile& p) const {
    SaveChoices(Choices(), p);
}

MeasurementChoices MeasurementOptions::Choices() const {
    MeasurementChoices c;
    for (std::size_t i = 0; i < c.inputs.size(); ++i) {
        InputChoice& in = c.inputs[i];
        in.recorded = m_bChannel[i] != 0;
        in.name = m_strNames[i];
        in.unit = m_strUnits[i];
        in.calibration = {m_dValues1V[i], m_dValues0V[i]};
    }
    c.freqIndex = m_nFreqIndex;
    c.fileType = FileTypeOf(m_nFileType);
    c.duration = {m_dTotalTime, m_nTimeUnit != 0 ? TimeUnit::Hours : TimeUnit::Minutes};
    c.save = m_nSaveMode != 0 ? SaveMode::ToFile : SaveMode::ScreenOnly;
    c.fileName = m_strFileName;
    c.splitEvery = m_strSplitEvery;
    return c;
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
        m_strSplitEvery = c.GetText(id::kSplitEvery);
    } else {
        c.SetSelection(id::kFrequency, m_nFreqIndex);
        c.SetText(id::kFileName, m_strFileName);
        c.SetSelection(id::kFileType, m_nFileType);
        c.SetText(id::kSplitEvery, m_strSplitEvery);
    }
    if (save) {
        const std::string fault = SplitEveryFault("New file every", m_strSplitEvery);
        if (!fault.empty()) {
            c.Fail(id::kSplitEvery, fault, true);
            return false;
        }
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

std::string MeasurementOptions::CheckForOk() const {
    MeasurementChoices c = Choices();
    // The shown input's fields reach its entry only in TransferToSetup.
    if (m_nChannelRadio >= 0 && m_nChannelRadio < kMaxChannels) {
        c.inputs[static_cast<std::size_t>(m_nChannelRadio)].calibration = {m_dValueAt1V,
                                                                           m_dValueAt0V};
    }
    return CheckChoices(c);
}

void MeasurementOptions::TransferToSetup(MeasurementSetup& setup, IniFile& profile) {
    m_nEditedChannel = m_nChannelRadio;
    StoreShownChannel();
    SaveSettings(profile);
    FillSetup(setup);
}

void MeasurementOptions::FillSetup(MeasurementSetup& setup) const {
    tamix::FillSetup(Choices(), setup);
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
