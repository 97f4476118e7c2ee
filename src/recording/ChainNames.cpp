#include "recording/ChainNames.h"

#include <cstdio>

namespace tamix {
namespace {

std::size_t BaseStart(std::string_view name) {
    const std::size_t slash = name.rfind('/');
    return slash == std::string_view::npos ? 0 : slash + 1;
}

// Where the number goes. A text recording's is put before the ".dat" that
// its info file's name is cut at, so that every file of the chain has an
// info file of its own.
std::size_t NumberAt(std::string_view name, FileType type) {
    const std::size_t base = BaseStart(name);
    const std::string_view own = name.substr(base);
    std::size_t at = std::string_view::npos;
    if (type == FileType::Text) {
        at = own.find(".dat");
    } else {
        at = own.rfind(".wdq");
    }
    if (at == std::string_view::npos) at = own.rfind('.');
    return at == std::string_view::npos ? name.size() : base + at;
}

}  // namespace

std::string ChainFileName(std::string_view target, FileType type, int64_t position) {
    if (position <= 1) return std::string(target);
    char number[32];
    std::snprintf(number, sizeof number, "-%04lld", static_cast<long long>(position));
    const std::size_t at = NumberAt(target, type);
    std::string name(target.substr(0, at));
    name += number;
    name += target.substr(at);
    return name;
}

std::string ContinuedFromText(std::string_view previousFile, int64_t firstScan) {
    return "Continued from " + std::string(previousFile.substr(BaseStart(previousFile))) +
           " at scan " + std::to_string(firstScan);
}

}  // namespace tamix
