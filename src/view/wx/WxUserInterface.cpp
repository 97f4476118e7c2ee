#include "view/wx/WxUserInterface.h"

#include "base/Messages.h"
#include "dialogs/wx/CMessageBox.h"

namespace tamix {
namespace {

wxString Text(std::string_view text) {
    return wxString::FromUTF8(text.data(), text.size());
}

}  // namespace

void WxUserInterface::ShowMessage(std::string_view text, Icon icon) {
    long style = wxOK;
    if (icon == Icon::Warning) style |= wxICON_EXCLAMATION;
    if (icon == Icon::Error) style |= wxICON_ERROR;
    ShowMessageBox(Text(text), text::kAppTitle, style);
}

bool WxUserInterface::Confirm(std::string_view text, Icon icon) {
    ShowMessage(text, icon);
    // A box closed because the program is ending was not confirmed.
    return !MessageBoxesEnded();
}

bool WxUserInterface::AskYesNo(std::string_view question, Answer preset) {
    const long style = wxYES_NO | (preset == Answer::No ? wxNO_DEFAULT : wxYES_DEFAULT);
    return ShowMessageBox(Text(question), text::kAppTitle, style) == wxYES;
}

void WxUserInterface::BeginWait() {
    if (waits_++ == 0) busy_ = std::make_unique<wxBusyCursor>();
}

void WxUserInterface::EndWait() {
    if (waits_ > 0 && --waits_ == 0) busy_.reset();
}

}  // namespace tamix
