// What the dialog logic needs of a dialog's controls, by control identifier, so
// that data exchange and validation run (and are tested) without a GUI toolkit.
#pragma once

#include <string>
#include <string_view>

namespace tamix {

class ControlAccess {
  public:
    virtual ~ControlAccess() = default;
    virtual int GetCheck(int id) const = 0;
    virtual void SetCheck(int id, int state) = 0;
    virtual std::string GetText(int id) const = 0;
    virtual void SetText(int id, std::string_view text) = 0;
    // List index, -1 when nothing is selected.
    virtual int GetSelection(int id) const = 0;
    virtual void SetSelection(int id, int index) = 0;
    // Editable combo: the edit text; filling selects the first item that begins
    // with the text (case-insensitively) so that its full text shows.
    virtual std::string GetComboText(int id) const = 0;
    virtual void SetComboText(int id, std::string_view text) = 0;
    // Radio group of `count` buttons from `firstId`: position of the checked one or -1.
    virtual int GetRadio(int firstId, int count) const = 0;
    virtual void SetRadio(int firstId, int count, int position) = 0;
    // A validation failure: show the message (exclamation icon when asked) and
    // put the focus on the control.
    virtual void Fail(int id, std::string_view message, bool exclamation) = 0;
};

// Shared exchange helpers with the framework's standard messages.
namespace ddx {

// Reading: false after reporting "Please enter a number." when the text has no
// leading number; `value` is kept.
bool Number(ControlAccess& c, int id, bool save, double& value);
// "Please enter a number between %1 and %2."; the value is stored before the check.
bool Range(ControlAccess& c, int id, bool save, double value, double low, double high);
// "Please enter no more than %1 characters." (characters as the operator sees them).
bool MaxChars(ControlAccess& c, int id, bool save, std::string_view text, std::size_t limit);
// Numbers with up to 15 significant digits, shortest form, C locale.
std::string FormatNumber(double value);

}  // namespace ddx
}  // namespace tamix
