#include "dialogs/ControlAccess.h"

#include <charconv>

#include "base/IniFile.h"
#include "base/Utf8Text.h"

namespace tamix::ddx {

std::string FormatNumber(double value) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
    return {buf, r.ptr};
}

bool Number(ControlAccess& c, int id, bool save, double& value) {
    if (!save) {
        c.SetText(id, FormatNumber(value));
        return true;
    }
    bool found = false;
    const double parsed = LeadingNumber(c.GetText(id), &found);
    if (!found) {
        c.Fail(id, "Please enter a number.", false);
        return false;
    }
    value = parsed;
    return true;
}

bool Range(ControlAccess& c, int id, bool save, double value, double low, double high) {
    if (!save || (value >= low && value <= high)) return true;
    c.Fail(
        id,
        "Please enter a number between " + FormatNumber(low) + " and " + FormatNumber(high) + ".",
        true);
    return false;
}

bool MaxChars(ControlAccess& c, int id, bool save, std::string_view text, std::size_t limit) {
    if (!save || Utf8Length(text) <= limit) return true;
    c.Fail(id, "Please enter no more than " + std::to_string(limit) + " characters.", true);
    return false;
}

}  // namespace tamix::ddx
