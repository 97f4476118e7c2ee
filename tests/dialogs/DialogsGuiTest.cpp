#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <algorithm>
#include <clocale>
#include <filesystem>
#include <memory>

#include "../support/GuiTest.h"
#include "../support/TempDir.h"
#include "acquisition/MeasurementSetup.h"
#include "base/ProfileKeys.h"
#include "control/MeasurementCommands.h"
#include "dialogs/HelpText.h"

namespace tamix {
namespace {

namespace id = options_id;
using test::Command;
using test::ExpectMessage;

class DialogsGuiTest : public ::testing::Test {
  protected:
    test::TempDir dir;
    IniFile profile{dir.File("tamix.INI")};
};

void Select(wxWindow* control, int index) {
    auto* choice = static_cast<wxChoice*>(control);
    choice->SetSelection(index);
    wxCommandEvent event(wxEVT_CHOICE, control->GetId());
    event.SetInt(index);
    event.SetEventObject(control);
    control->GetEventHandler()->ProcessEvent(event);
}

TEST_F(DialogsGuiTest, OptionsShowTheProfileAndTheEstimate) {
    CMeasurementOptionsDlg dlg(nullptr, profile);
    EXPECT_EQ(dlg.GetText(id::kApproxSize), "6.87 Mbytes");
    EXPECT_EQ(dlg.GetText(id::kTotalTime), "30");
    EXPECT_EQ(dlg.GetSelection(id::kFrequency), 2);
    EXPECT_EQ(dlg.GetRadio(id::kScreenOnly, 2), 0);
    EXPECT_EQ(dlg.GetCheck(id::kChannel0 + 3), 1);
    EXPECT_EQ(dlg.GetCheck(id::kChannel0 + 4), 0);
    EXPECT_EQ(dlg.GetText(id::kUnitLabel1V), "Volt");
    Select(dlg.FindWindow(id::kFileType), 1);
    EXPECT_EQ(dlg.GetText(id::kApproxSize), "27.47 Mbytes");
}

TEST_F(DialogsGuiTest, SwitchingMinutesToHoursShowsHalfAnHour) {
    CMeasurementOptionsDlg dlg(nullptr, profile);
    Select(dlg.FindWindow(id::kTimeUnit), 1);
    EXPECT_EQ(dlg.GetText(id::kTotalTime), "0.5");
    Select(dlg.FindWindow(id::kTimeUnit), 0);
    EXPECT_EQ(dlg.GetText(id::kTotalTime), "30");
}

TEST_F(DialogsGuiTest, AFifthUnitCharacterRaisesTheLengthMessage) {
    CMeasurementOptionsDlg dlg(nullptr, profile);
    auto* unit = static_cast<wxComboBox*>(dlg.FindWindow(id::kUnit));
    wxTEST_DIALOG(unit->SetValue("Volts"),
                  ExpectMessage("Please enter no more than 4 characters."));
    unit->ChangeValue("mV");
    EXPECT_TRUE(dlg.TransferDataFromWindow());
}

TEST_F(DialogsGuiTest, TotalTimeIsTypedFreelyAndCheckedAtOk) {
    CMeasurementOptionsDlg dlg(nullptr, profile);
    auto* time = static_cast<wxTextCtrl*>(dlg.FindWindow(id::kTotalTime));
    // Each keystroke raises a text event; none may bring up a message or
    // change the text, whatever the intermediate value.
    time->SetValue("");
    for (const char* key : {"0", ".", "2"}) time->AppendText(key);
    EXPECT_EQ(time->GetValue(), "0.2");
    EXPECT_EQ(dlg.GetText(id::kApproxSize), "0.05 Mbytes");
    // Another handler in the middle of typing keeps the text too.
    time->SetValue("0.");
    dlg.SetCheck(id::kChannel0 + 4, 1);
    wxCommandEvent click(wxEVT_CHECKBOX, id::kChannel0 + 4);
    click.SetInt(1);
    dlg.FindWindow(id::kChannel0 + 4)->GetEventHandler()->ProcessEvent(click);
    EXPECT_EQ(time->GetValue(), "0.");
    time->AppendText("2");
    ASSERT_TRUE(dlg.TransferDataFromWindow());
    EXPECT_DOUBLE_EQ(dlg.options().m_dTotalTime, 0.2);
    // A value that is still out of range is refused at OK, with the message.
    time->ChangeValue("0");
    bool accepted = true;
    wxTEST_DIALOG(accepted = dlg.TransferDataFromWindow(),
                  ExpectMessage("Please enter a number between 0.01 and 6000."));
    EXPECT_FALSE(accepted);
    EXPECT_EQ(time->GetValue(), "0");
}

TEST_F(DialogsGuiTest, TypingAFileNameSelectsSaving) {
    CMeasurementOptionsDlg dlg(nullptr, profile);
    static_cast<wxTextCtrl*>(dlg.FindWindow(id::kFileName))->SetValue("r");
    EXPECT_EQ(dlg.GetRadio(id::kScreenOnly, 2), 1);
    static_cast<wxTextCtrl*>(dlg.FindWindow(id::kFileName))->SetValue("");
    EXPECT_EQ(dlg.GetRadio(id::kScreenOnly, 2), 0);
}

TEST_F(DialogsGuiTest, OkFillsTheSharedRecordAndSavesTheProfile) {
    auto setup = std::make_unique<MeasurementSetup>();
    CMeasurementOptionsDlg dlg(nullptr, profile);
    auto* box = static_cast<wxCheckBox*>(dlg.FindWindow(id::kChannel0 + 4));
    box->SetValue(true);
    wxCommandEvent click(wxEVT_CHECKBOX, box->GetId());
    click.SetInt(1);
    dlg.ProcessWindowEvent(click);
    EXPECT_EQ(dlg.GetRadio(id::kChannelRadio0, 8), 4) << "ticking an input shows it";
    dlg.SetComboText(id::kSignalName, "blood");
    EXPECT_EQ(dlg.GetComboText(id::kSignalName), "Blood Pressure");
    static_cast<wxTextCtrl*>(dlg.FindWindow(id::kFileName))->SetValue(dir.File("rec"));
    ASSERT_TRUE(dlg.TransferDataFromWindow());
    dlg.TransferToSetup(*setup);
    EXPECT_EQ(setup->channelCount, 5);
    EXPECT_EQ(setup->channels[4].inputNumber, 4);
    EXPECT_EQ(setup->channels[4].Name(), "Blood Pressure");
    EXPECT_EQ(setup->OutputFileName(), dir.File("rec") + ".wdq");
    EXPECT_EQ(setup->totalTime, 1800.0);
    EXPECT_EQ(IniFile(dir.File("tamix.INI")).GetString("Channel info", "name4", ""),
              "Blood Pressure");
}

TEST_F(DialogsGuiTest, CancelLeavesTheProfileUntouched) {
    const std::string path = test::GuiTempDir() + "/tamix.INI";
    const bool existed = std::filesystem::exists(path);
    const std::string before = test::ReadText(path);
    wxTEST_DIALOG(Command(cmd::ID_MEASUREMENT_START),
                  test::ExpectOptions(
                      [](CMeasurementOptionsDlg& d) { d.SetCheck(id::kChannel0, 0); }, false));
    EXPECT_EQ(std::filesystem::exists(path), existed);
    EXPECT_EQ(test::ReadText(path), before);
}

TEST_F(DialogsGuiTest, SystemSetupShowsAndSavesThePort) {
    profile.SetInt("System setup", "port", 3);
    {
        CSystemSetupDlg dlg(nullptr, profile);
        EXPECT_EQ(static_cast<wxChoice*>(dlg.FindWindow(1034))->GetStringSelection(), "COM4");
        dlg.TransferDataFromWindow();
        auto setup = std::make_unique<MeasurementSetup>();
        setup->SetCommPort(dlg.GetPort());
        EXPECT_EQ(setup->commPort, 4);
    }
    profile.SetInt("System setup", "port", 12);
    CSystemSetupDlg dlg(nullptr, profile);
    EXPECT_EQ(static_cast<wxChoice*>(dlg.FindWindow(1034))->GetSelection(), wxNOT_FOUND);
    dlg.TransferDataFromWindow();
    auto setup = std::make_unique<MeasurementSetup>();
    setup->SetCommPort(dlg.GetPort());
    EXPECT_EQ(setup->commPort, 1);
    EXPECT_EQ(IniFile(dir.File("tamix.INI")).GetInt("System setup", "port", 0), -1);
}

TEST_F(DialogsGuiTest, AddMarkerPromptsWithTheNumberAndKeepsEightyCharacters) {
    CAddMarkerDlg dlg(nullptr);
    dlg.SetMarkerNumber(3);
    EXPECT_EQ(static_cast<wxStaticText*>(dlg.FindWindow(1044))->GetLabel(), "3. marker comment:");
    auto* edit = static_cast<wxTextCtrl*>(dlg.FindWindow(1035));
    const std::string eighty(80, 'x');
    edit->ChangeValue(eighty);
    ASSERT_TRUE(dlg.TransferDataFromWindow());
    std::array<char, kCommentBytes> entry{};
    dlg.GetComment(entry);
    EXPECT_EQ(std::string(entry.data()), eighty);
}

// The width of a message box as laid out for showing, and of its caption in
// the title font; answers OK.
class MeasureMessageBox : public wxExpectModalBase<CMessageBox, MeasureMessageBox> {
  public:
    MeasureMessageBox(int* box, int* caption) : m_box(box), m_caption(caption) {}

  protected:
    int OnInvoked(CMessageBox* dlg) const override {
        *m_box = dlg->GetSize().x;
        const wxFont font = CMessageBox::TitleFont();
        dlg->GetTextExtent(dlg->GetTitle(), m_caption, nullptr, nullptr, nullptr, &font);
        return wxID_OK;
    }

  private:
    int* m_box;
    int* m_caption;
};

// A box sized to a short text must still show its whole caption in the title bar.
TEST_F(DialogsGuiTest, MessageBoxesAreAtLeastAsWideAsTheirCaption) {
    const char* const kTexts[] = {"Data recording paused.\nPress OK to resume.",
                                  "Please enter a number.", "OK"};
    for (const char* text : kTexts) {
        SCOPED_TRACE(text);
        int box = 0;
        int caption = 0;
        wxTEST_DIALOG(ShowMessageBox(text, "Tamix Windows Application", wxOK),
                      MeasureMessageBox(&box, &caption));
        EXPECT_GT(caption, 0);
        EXPECT_GE(box, caption);
    }
}

TEST_F(DialogsGuiTest, HelpHoldsFifteenLinesEachEndingInCrLf) {
    CHelpDlg dlg(nullptr);
    const std::string& text = dlg.m_strHelpText;
    int lines = 0;
    for (std::size_t p = text.find("\r\n"); p != std::string::npos; p = text.find("\r\n", p + 2))
        ++lines;
    EXPECT_EQ(lines, 15);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    EXPECT_EQ(text.rfind("During measurement the following operations are available:\r\n\r\n", 0),
              0u);
    EXPECT_NE(text.find("- To add a commented marker press space\r\n\r\n"), std::string::npos);
}

// The About box's text is Hungarian ("data acquisition software"): its "ű"
// and "ő" are the letters themselves, not the "û" and "õ" that a Western code
// page makes of their bytes. Read back from the dialog under the C locale too,
// where a narrow string's bytes would not convert.
TEST_F(DialogsGuiTest, TheAboutBoxShowsItsTextWhateverTheLocale) {
    const wxString expected(L"Tamix adatgy\u0171jt\u0151 szoftver");
    for (const char* locale : {"C", "C.UTF-8"}) {
        SCOPED_TRACE(locale);
        const std::string before = std::setlocale(LC_CTYPE, nullptr);
        ASSERT_TRUE(std::setlocale(LC_CTYPE, locale));
        std::vector<wxString> labels;
        {
            CAboutDlg dlg(nullptr);
            for (const wxWindow* child : dlg.GetChildren()) {
                if (const auto* text = dynamic_cast<const wxStaticText*>(child)) {
                    labels.push_back(text->GetLabel());
                }
            }
            EXPECT_EQ(dlg.GetTitle(), "About Tamix");
        }
        std::setlocale(LC_CTYPE, before.c_str());
        EXPECT_NE(std::find(labels.begin(), labels.end(), expected), labels.end())
            << (labels.empty() ? std::string("no labels") : std::string(labels[0].utf8_str()));
        EXPECT_NE(std::find(labels.begin(), labels.end(), "Version " TAMIX_VERSION), labels.end());
    }
}

}  // namespace
}  // namespace tamix
