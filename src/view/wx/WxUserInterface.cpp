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

bool WxUserInterface::AskYesNo(std::string_view question) {
    return ShowMessageBox(Text(question), text::kAppTitle, wxYES_NO | wxNO_DEFAULT) == wxYES;
}

void WxUserInterface::BeginWait() {
    if (waits_++ == 0) busy_ = std::make_unique<wxBusyCursor>();
}

void WxUserInterface::EndWait() {
    if (waits_ > 0 && --waits_ == 0) busy_.reset();
}

}  // namespace tamix
