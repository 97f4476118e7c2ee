// EDF+ export through EDFlib: each channel with its physical range and unit,
// the markers as annotations. Shared by tamix-file and the review window; a
// build without EDFlib refuses it with a reason.
#pragma once

#include <string>

#include "recording/ExportSelection.h"
#include "recording/ProgressCallback.h"
#include "recording/RecordingReader.h"

namespace tamix {

// False with `error` ("FILE: reason"). `note` tells about padding of the last
// data record or a rate EDF cannot express exactly.
bool ExportEdf(RecordingReader& reader, const ExportSelection& selection, const std::string& path,
               const ProgressCallback& progress, std::string& note, std::string& error);

// EDF header texts are ASCII: a few common signs are spelt out, others become '_'.
std::string EdfAscii(std::string_view utf8, std::size_t maxChars);

}  // namespace tamix
