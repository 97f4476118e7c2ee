// The command-line recorder's answers to the measurement commands: failures
// and warnings on stderr, notices only when someone watches the terminal, and
// Yes to overwriting (the command line already named the file).
#pragma once

#include <iostream>

#include "control/UserInterface.h"

namespace tamix {

class TerminalInterface final : public UserInterface {
  public:
    explicit TerminalInterface(bool showNotices) : showNotices_(showNotices) {}

    void ShowMessage(std::string_view text, Icon icon) override {
        if (icon == Icon::Information && !showNotices_) return;
        std::cerr << (icon == Icon::Information ? "" : "tamix-record: ") << text << "\n";
    }
    bool AskYesNo(std::string_view, Answer) override { return true; }
    bool NoticesBeforeStart() const override { return false; }

  private:
    bool showNotices_;
};

}  // namespace tamix
