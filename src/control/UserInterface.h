// The questions and messages of the measurement commands, answered by each
// program in its own way: message boxes in the desktop program, the terminal
// in the command-line recorder. User interface thread only.
#pragma once

#include <string_view>

namespace tamix {

class UserInterface {
  public:
    enum class Icon { Information, Warning, Error };
    // The answer that Enter gives; No unless a question says otherwise.
    enum class Answer { No, Yes };

    virtual ~UserInterface() = default;
    // A notice the operator confirms; returns once it is confirmed.
    virtual void ShowMessage(std::string_view text, Icon icon) = 0;
    // A notice that the next step waits for: true once it is confirmed, false
    // when it went without (the program is ending), so the step is not taken.
    virtual bool Confirm(std::string_view text, Icon icon) {
        ShowMessage(text, icon);
        return true;
    }
    // A Yes/No question; true for Yes. No is the safe answer and the usual default.
    virtual bool AskYesNo(std::string_view question, Answer preset) = 0;
    // Whether the start notice is confirmed before the run begins (a box the
    // operator reads first) or told once the unit has answered (a terminal
    // line, which should not precede a failure's reason).
    virtual bool NoticesBeforeStart() const { return true; }
    // Brackets a wait the operator cannot shorten (a busy cursor).
    virtual void BeginWait() {}
    virtual void EndWait() {}
};

}  // namespace tamix
