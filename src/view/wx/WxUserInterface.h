// The desktop program's answers to the measurement commands' questions and
// messages: modal message boxes with the application's caption, and the busy
// cursor. User interface thread only.
#pragma once

#include <wx/utils.h>

#include <memory>

#include "control/UserInterface.h"

namespace tamix {

class WxUserInterface final : public UserInterface {
  public:
    void ShowMessage(std::string_view text, Icon icon) override;
    bool Confirm(std::string_view text, Icon icon) override;
    bool AskYesNo(std::string_view question, Answer preset) override;
    void BeginWait() override;
    void EndWait() override;

  private:
    std::unique_ptr<wxBusyCursor> busy_;
    int waits_ = 0;
};

}  // namespace tamix
