#include "base/ChannelInfo.h"

#include <cctype>

#include "base/MarkerTable.h"
#include "base/Utf8Text.h"

namespace tamix {

std::string_view ChannelInfo::Name() const {
    return FieldText(name);
}
std::string_view ChannelInfo::Unit() const {
    return FieldText(unit);
}
std::string_view MarkerTable::Text(int m) const {
    return FieldText(markerText[m]);
}

int InputOfLabel(std::string_view label) {
    if (label.size() != 1) return -1;
    const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(label[0])));
    for (int i = 0; i < kMaxChannels; ++i) {
        if (kInputLabels[i][0] == c) return i;
    }
    return -1;
}

}  // namespace tamix
