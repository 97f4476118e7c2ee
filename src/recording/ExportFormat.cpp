#include "recording/ExportFormat.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "recording/CsvExport.h"
#include "recording/EdfExport.h"
#include "recording/ExportChecks.h"
#include "recording/RecordingExport.h"
#include "recording/TextWriter.h"

namespace tamix {
namespace {

// EDF+ is written by a library that opens the file by name: it writes the
// replacement through the name the replacement gives, and its messages name
// the target instead.
bool ExportEdfReplacing(RecordingReader& reader, const ExportSelection& selection,
                        const std::string& path, FileOpener& opener,
                        const ProgressCallback& progress, std::string& note, std::string& error) {
    std::unique_ptr<ReplacementFile> file = opener.CreateReplacement(path, error);
    if (!file) {
        error = path + ": " + error;
        return false;
    }
    const std::string writable = file->WritablePath();
    if (!ExportEdf(reader, selection, writable, progress, note, error)) {
        for (std::size_t at = error.find(writable); at != std::string::npos;
             at = error.find(writable, at + path.size())) {
            error.replace(at, writable.size(), path);
        }
        return false;
    }
    if (!file->Close() || !file->Commit()) {
        error = path + ": " + file->Error();
        return false;
    }
    return true;
}

}  // namespace

std::optional<ExportFormat> ExportFormatNamed(std::string_view name) {
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower == "csv") return ExportFormat::Csv;
    if (lower == "edf") return ExportFormat::Edf;
    if (lower == "dat") return ExportFormat::Text;
    if (lower == "wdq") return ExportFormat::WinDaq;
    return std::nullopt;
}

std::vector<std::string> ExportOutputs(ExportFormat format, const std::string& path) {
    switch (format) {
        case ExportFormat::Csv:
            return {path, MarkersCsvName(path)};
        case ExportFormat::Text:
            return {path, InfoFileName(path)};
        case ExportFormat::Edf:
        case ExportFormat::WinDaq:
            break;
    }
    return {path};
}

bool ExportRecording(RecordingReader& reader, const ExportSelection& selection, ExportFormat format,
                     const std::string& path, FileOpener& opener, const ProgressCallback& progress,
                     std::string& note, std::string& error) {
    const RecordingInfo& info = reader.Info();
    if (!CheckExport(info, selection, format, path, error)) return false;
    switch (format) {
        case ExportFormat::Csv:
            return ExportCsv(reader, selection, path, opener, progress, error);
        case ExportFormat::Edf:
            return ExportEdfReplacing(reader, selection, path, opener, progress, note, error);
        case ExportFormat::Text:
            return ExportText(reader, selection, path, opener, progress, error);
        case ExportFormat::WinDaq:
            return ExportWdq(reader, selection, path, opener, progress, error);
    }
    return false;
}

}  // namespace tamix
