// EDF+ export through EDFlib: each channel with its physical range and unit,
// the markers as annotations. Shared by tamix-file and the review window; a
// build without EDFlib refuses it with a reason.
#pragma once

#include <string>

#include "recording/ExportSelection.h"
#include "recording/ProgressCallback.h"
#include "recording/RecordingReader.h"

namespace tamix {

// False with `error` ("FILE: reason"), before the file is created, where the
// header cannot state a channel's values to within half a digital step or the
// rate to within a millionth. `note` tells what the file states otherwise than
// the recording: a channel in another prefix of its unit, the stored rate and
// its drift, the padded end of the last data record, cut marker comments.
bool ExportEdf(RecordingReader& reader, const ExportSelection& selection, const std::string& path,
               const ProgressCallback& progress, std::string& note, std::string& error);

// EDF header texts are ASCII: a few common signs are spelt out, others become '_'.
std::string EdfAscii(std::string_view utf8, std::size_t maxChars);

}  // namespace tamix
