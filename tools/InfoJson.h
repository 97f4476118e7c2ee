// tamix-file info --json: what a recording holds as one JSON object, always
// valid JSON: a number that is not finite becomes null, with a note saying so,
// and text that is not UTF-8 has its bad bytes replaced.
#pragma once

#include <string>

#include "recording/RecordingReader.h"

namespace tamix::cli {

std::string InfoJson(const RecordingInfo& info);

}  // namespace tamix::cli
