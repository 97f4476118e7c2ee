// The questions and messages of the measurement commands, answered by each
// program in its own way: message boxes in the desktop program, the terminal
// in the command-line recorder. User interface thread only.
#pragma once

#include <string_view>

namespace tamix {

class UserInterface {
  public:
    enum class Icon { Information, Warning, Error };

    virtual ~UserInterface() = default;
    // A notice the operator confirms; returns once it is confirmed.
    virtual void ShowMessage(std::string_view text, Icon icon) = 0;
    // A Yes/No question; true for Yes. No is the safe answer and the default.
    virtual bool AskYesNo(std::string_view question) = 0;
    // Brackets a wait the operator cannot shorten (a busy cursor).
    virtual void BeginWait() {}
    virtual void EndWait() {}
};

}  // namespace tamix
