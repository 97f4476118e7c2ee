// The power density as comma-separated values for spreadsheets and analysis tools:
// a header line "frequency_hz" and one column per channel titled
// "Name [unit^2/Hz]", one line per bin, numbers in the C locale.
#pragma once

#include <span>
#include <string>

#include "recording/OutputFile.h"
#include "recording/PowerDensity.h"
#include "recording/RecordingReader.h"

namespace tamix {

// A column's title: the channel's title with the density's unit.
std::string PowerDensityColumnTitle(const ChannelInfo& channel, std::size_t position);

// Writes the channels of `power density` at `shown` (indices into its channels) to
// `path` as a new file put in place once complete; false with `error`
// ("FILE: reason"), an earlier file then keeping every byte.
bool ExportPowerDensityCsv(const PowerDensity& psd, const RecordingInfo& info,
                           std::span<const std::size_t> shown, const std::string& path,
                           FileOpener& opener, std::string& error);

}  // namespace tamix
