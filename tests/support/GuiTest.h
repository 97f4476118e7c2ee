// Helpers of the GUI tests: the running application, commands sent to the main
// window, expectations of modal dialogs and message boxes, and polling waits.
#pragma once

#include <gtest/gtest.h>
#include <wx/accel.h>
#include <wx/frame.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/testing.h>
#include <wx/textctrl.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/CTamixApp.h"
#include "dialogs/wx/CAboutDlg.h"
#include "dialogs/wx/CAddMarkerDlg.h"
#include "dialogs/wx/CHelpDlg.h"
#include "dialogs/wx/CMeasurementOptionsDlg.h"
#include "dialogs/wx/CMessageBox.h"
#include "dialogs/wx/CSystemSetupDlg.h"

namespace tamix::test {

// The application under test and the temporary folder holding its profile.
CTamixApp& App();
const std::string& GuiTempDir();
wxFrame& MainFrame();

// Sends a menu command to the main window, as a click or an accelerator would.
void Command(int id);
// The enabled and checked state the update handlers give a command.
std::pair<bool, bool> CommandUi(int id);

// Processes events until `condition` holds or `seconds` pass.
bool WaitFor(const std::function<bool()>& condition, double seconds);

// The menu entries of `frame` whose key hint its accelerator table does not
// carry to the entry's command. wxGTK binds no hint without a modifier, so
// such a key is dead there although the menu shows it.
inline std::vector<std::string> KeysMissingFromTable(wxFrame& frame) {
    std::vector<std::string> missing;
    const wxAcceleratorTable* table = frame.GetAcceleratorTable();
    const std::function<void(wxMenu*)> visit = [&](wxMenu* menu) {
        for (wxMenuItem* item : menu->GetMenuItems()) {
            if (item->IsSubMenu()) visit(item->GetSubMenu());
            const std::unique_ptr<wxAcceleratorEntry> accel(item->GetAccel());
            if (!accel) continue;
            wxKeyEvent key(wxEVT_KEY_DOWN);
            key.m_keyCode = accel->GetKeyCode();
            key.SetControlDown((accel->GetFlags() & wxACCEL_CTRL) != 0);
            key.SetAltDown((accel->GetFlags() & wxACCEL_ALT) != 0);
            key.SetShiftDown((accel->GetFlags() & wxACCEL_SHIFT) != 0);
            if (table == nullptr || !table->IsOk() || table->GetCommand(key) != item->GetId()) {
                missing.emplace_back(item->GetItemLabel().utf8_str());
            }
        }
    };
    if (wxMenuBar* bar = frame.GetMenuBar()) {
        for (size_t m = 0; m < bar->GetMenuCount(); ++m) visit(bar->GetMenu(m));
    }
    return missing;
}

// A message box with this text and the application's caption, answered with `answer`.
class ExpectMessage : public wxExpectModalBase<CMessageBox, ExpectMessage> {
  public:
    explicit ExpectMessage(std::string text, int answer = wxID_OK,
                           std::function<void()> whileOpen = {})
        : m_text(std::move(text)), m_answer(answer), m_whileOpen(std::move(whileOpen)) {}

  protected:
    int OnInvoked(CMessageBox* dlg) const override {
        EXPECT_EQ(std::string(dlg->GetMessage().utf8_str()), m_text);
        EXPECT_EQ(dlg->GetTitle(), "Tamix Windows Application");
        if (m_whileOpen) m_whileOpen();
        return m_answer;
    }

  private:
    std::string m_text;
    int m_answer;
    std::function<void()> m_whileOpen;
};

// The Measurement Options dialog: `fill` sets its controls, then OK as the
// button would (validation included), or Cancel.
class ExpectOptions : public wxExpectModalBase<CMeasurementOptionsDlg, ExpectOptions> {
  public:
    explicit ExpectOptions(std::function<void(CMeasurementOptionsDlg&)> fill, bool ok = true)
        : m_fill(std::move(fill)), m_ok(ok) {}

  protected:
    int OnInvoked(CMeasurementOptionsDlg* dlg) const override {
        if (m_fill) m_fill(*dlg);
        if (!m_ok) return wxID_CANCEL;
        return dlg->TransferDataFromWindow() ? wxID_OK : wxID_CANCEL;
    }

  private:
    std::function<void(CMeasurementOptionsDlg&)> m_fill;
    bool m_ok;
};

// Fills the options dialog: inputs by number, a file (empty for screen only),
// a file type and a time in minutes; nothing is left from earlier choices.
inline std::function<void(CMeasurementOptionsDlg&)> Choose(std::vector<int> inputs,
                                                           std::string file, int fileType,
                                                           double minutes) {
    namespace id = options_id;
    return [=](CMeasurementOptionsDlg& d) {
        for (int i = 0; i < 8; ++i) d.SetCheck(id::kChannel0 + i, 0);
        for (int i : inputs) d.SetCheck(id::kChannel0 + i, 1);
        d.SetText(id::kFileName, file);
        d.SetRadio(id::kScreenOnly, 2, file.empty() ? 0 : 1);
        d.SetSelection(id::kFileType, fileType);
        d.SetSelection(id::kTimeUnit, 0);
        d.SetText(id::kTotalTime, std::to_string(minutes));
    };
}

class ExpectMarker : public wxExpectModalBase<CAddMarkerDlg, ExpectMarker> {
  public:
    explicit ExpectMarker(std::string comment, std::string prompt)
        : m_comment(std::move(comment)), m_prompt(std::move(prompt)) {}

  protected:
    int OnInvoked(CAddMarkerDlg* dlg) const override {
        EXPECT_EQ(dlg->m_strPrompt, m_prompt);
        static_cast<wxTextCtrl*>(dlg->FindWindow(1035))->ChangeValue(wxString::FromUTF8(m_comment));
        return dlg->TransferDataFromWindow() ? wxID_OK : wxID_CANCEL;
    }

  private:
    std::string m_comment;
    std::string m_prompt;
};

}  // namespace tamix::test
