// Whether a stream's info matches a resolve query (the XPath predicates LSL programs send).
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace tamix {

// True when `query` holds for the info's top-level `fields`: comparisons
// `field='text'` (or "text", or a bare number compared as a number) with =
// and !=, joined by `and` and `or`, grouped in parentheses, negated with
// not(...). An empty query matches every stream; a query this cannot read
// matches none, as with liblsl.
bool LslQueryMatches(std::string_view query, const std::map<std::string, std::string>& fields);

}  // namespace tamix
