#include "recording/RecordingRepair.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <memory>

#include "base/MarkerTable.h"
#include "base/TextLimits.h"
#include "base/Utf8Text.h"
#include "recording/ByteCopy.h"
#include "recording/MarkerTableOf.h"
#include "recording/OpenRecording.h"
#include "recording/OutputFile.h"
#include "recording/TextFileReader.h"
#include "recording/TextWriter.h"
#include "recording/WdqFileReader.h"
#include "recording/WdqWriter.h"

namespace tamix {
namespace {

namespace fs = std::filesystem;

std::string BeingRecorded(const std::string& path) {
    return path + ": it is being recorded; repair it once the recording has ended";
}

// A symbolic link's file is repaired, and its original kept beside it.
std::string ResolvedPath(const std::string& path) {
    std::error_code ec;
    if (!fs::is_symlink(path, ec)) return path;
    const fs::path resolved = fs::canonical(path, ec);
    return ec ? path : resolved.string();
}

bool BackupFree(const std::string& path, RepairReport& report) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(path + ".bak", ec))) return true;
    report.error = path + ".bak: already exists; move it away before repairing " + path;
    return false;
}

// Keeps the original as FILE.bak before the repaired file takes its name: as a
// second name of the same file where the file system has them, so that FILE
// names the whole original until the very rename that replaces it; else moved.
bool KeepOriginal(const std::string& path, bool& linked, RepairReport& report) {
    const std::string backup = path + ".bak";
    std::error_code ec;
    fs::create_hard_link(path, backup, ec);
    linked = !ec;
    if (!linked) {
        std::error_code moved;
        fs::rename(path, backup, moved);
        if (moved) {
            report.error =
                path + ": cannot keep the original as " + backup + " (" + moved.message() + ")";
            return false;
        }
    }
    report.actions.push_back("Kept the original as " + backup + ".");
    return true;
}

// Puts the repaired file in place of the original, which is kept as FILE.bak;
// after a failure the original is under its own name again.
bool PutInPlace(ReplacementFile& repaired, const std::string& path, RepairReport& report) {
    bool linked = false;
    if (!KeepOriginal(path, linked, report)) return false;
    if (repaired.Commit()) return true;
    report.error = path + ": " + repaired.Error();
    std::error_code ec;
    if (linked) {
        fs::remove(path + ".bak", ec);
    } else {
        fs::rename(path + ".bak", path, ec);
    }
    report.actions.clear();
    return false;
}

std::unique_ptr<MarkerTable> StartMarker() {
    auto markers = std::make_unique<MarkerTable>();
    markers->markerPos[0] = 0;
    CopyText(markers->markerText[0], "Acquisition start", kCommentChars);
    markers->markerCount.store(1);
    return markers;
}

// The markers the repaired file gets: the recording's own (those of its
// markers journal where it was never completed), else the start marker.
std::unique_ptr<MarkerTable> MarkersToKeep(const RecordingInfo& info) {
    if (info.markers.empty()) return StartMarker();
    return MarkerTableOf(info.markers, info.startTime);
}

std::string MarkerCount(const MarkerTable& markers) {
    const int count = markers.markerCount.load();
    return count == 1 ? "1 marker" : std::to_string(count) + " markers";
}

// Once the repaired files are in place, their markers no longer need the journal.
bool RemoveJournal(const std::string& journal, RepairReport& report) {
    if (journal.empty()) return true;
    std::error_code ec;
    fs::remove(journal, ec);
    if (ec) {
        report.error = journal +
                       ": the recording is repaired, but its markers journal cannot be removed (" +
                       ec.message() + ")";
        return false;
    }
    report.actions.push_back("Removed the markers journal " + journal + ".");
    return true;
}

bool WriteRepairedWdq(const WdqFileReader& original, ReplacementFile& file, const std::string& path,
                      RepairReport& report) {
    const RecordingInfo& info = original.Info();
    const WdqLayout& layout = original.Layout();
    std::string error;
    const uint64_t dataBytes = static_cast<uint64_t>(info.scanCount) * layout.scanBytes;
    std::vector<uint8_t> header(layout.headerBytes);
    if (!original.ReadBytes(0, header, error)) {
        report.error = error;
        return false;
    }
    // Sizes are patched below as the writer patches them.
    std::fill_n(header.begin() + 8, 10, uint8_t{0});
    const ByteReader read = [&original](uint64_t offset, std::span<uint8_t> out, std::string& why) {
        return original.ReadBytes(offset, out, why);
    };
    bool ok = file.Write(header.data(), header.size()) &&
              CopyBytes(read, layout.dataOffset, dataBytes, file, error);
    if (!error.empty()) {
        report.error = error;
        return false;
    }
    const auto markers = MarkersToKeep(info);
    ok = ok &&
         WriteWdqTrailer(file, *markers, markers->markerCount.load(), info.channels,
                         info.startTime) &&
         PatchWdqDataSize(file, dataBytes) && file.Close();
    if (!ok) {
        report.error = path + ": " + file.Error();
        return false;
    }
    report.actions.push_back("Set the data size to the " + std::to_string(info.scanCount) +
                             " whole scans on disk (" + std::to_string(dataBytes) + " bytes).");
    const uint64_t dropped = original.FileSize() - layout.dataOffset - dataBytes;
    if (dropped > 0) {
        report.actions.push_back("Left out " + std::to_string(dropped) +
                                 " bytes after the last whole scan.");
    }
    const std::string names =
        std::string(info.channels.front().Name()) + (info.channels.size() > 1 ? "..." : "");
    if (info.markerJournal.empty()) {
        report.actions.push_back("Appended a trailer with the start marker and the channel names " +
                                 names + ".");
    } else {
        report.actions.push_back("Appended a trailer with the " + MarkerCount(*markers) +
                                 " and the channel names " + names + " of the markers journal " +
                                 info.markerJournal + ".");
    }
    return true;
}

RepairReport RepairWdq(const std::string& path, std::unique_ptr<RecordingReader> recording,
                       ReplacementFile& repaired) {
    RepairReport report;
    if (!BackupFree(path, report)) return report;
    const auto& original = static_cast<const WdqFileReader&>(*recording);
    if (!WriteRepairedWdq(original, repaired, path, report)) return report;
    const std::string journal = original.Info().markerJournal;
    // Some systems keep an open file from being renamed or replaced.
    recording.reset();
    if (!PutInPlace(repaired, path, report) || !RemoveJournal(journal, report)) return report;
    report.outcome = RepairOutcome::Repaired;
    return report;
}

std::unique_ptr<ReplacementFile> WriteInfo(const std::string& dataPath, const RecordingInfo& info,
                                           bool missing, RepairReport& report) {
    const std::string infoPath = InfoFileName(dataPath);
    std::string error;
    std::unique_ptr<ReplacementFile> file = DefaultFileOpener().CreateReplacement(infoPath, error);
    if (!file) {
        report.error = infoPath + ": " + error;
        return nullptr;
    }
    const auto markers = MarkersToKeep(info);
    if (!WriteInfoFile(*file, info.channels, *markers, markers->markerCount.load(), info.period) ||
        !file->Close()) {
        report.error = infoPath + ": " + file->Error();
        return nullptr;
    }
    if (info.markerJournal.empty()) {
        report.actions.push_back("Wrote the missing info file " + infoPath + " with " +
                                 std::to_string(info.channels.size()) +
                                 " default channel names and the start marker.");
    } else {
        report.actions.push_back(
            std::string(missing ? "Wrote the missing info file " : "Wrote the info file ") +
            infoPath + " with the channel names and the " + MarkerCount(*markers) +
            " of the markers journal " + info.markerJournal + ".");
    }
    return file;
}

RepairReport RepairText(const std::string& path, std::unique_ptr<RecordingReader> recording,
                        ReplacementFile& repaired) {
    RepairReport report;
    const auto& reader = static_cast<const TextFileReader&>(*recording);
    const RecordingInfo& info = reader.Info();
    const uint64_t size = reader.FileSize();
    const bool cut = reader.WholeBytes() < size;
    const uint64_t partial = size - reader.WholeBytes();
    if (cut && !BackupFree(path, report)) return report;
    if (cut) {
        std::string error;
        const ByteReader read = [&reader](uint64_t offset, std::span<uint8_t> out,
                                          std::string& why) {
            return reader.ReadBytes(offset, out, why);
        };
        const bool ok =
            CopyBytes(read, 0, reader.WholeBytes(), repaired, error) && repaired.Close();
        if (!ok) {
            report.error = !error.empty() ? error : path + ": " + repaired.Error();
            return report;
        }
    }
    std::unique_ptr<ReplacementFile> infoFile;
    const std::string journal = info.markerJournal;
    if (!reader.HasInfoFile() || !journal.empty()) {
        infoFile = WriteInfo(path, info, !reader.HasInfoFile(), report);
        if (!infoFile) {
            report.actions.clear();
            return report;
        }
    }
    std::vector<std::string> infoActions = report.actions;
    report.actions.clear();
    recording.reset();
    if (cut) {
        if (!PutInPlace(repaired, path, report)) return report;
        // A text recording's start time is estimated from its last change
        // (TextFileReader): the repaired file keeps the original's.
        std::error_code ec;
        const auto changed = fs::last_write_time(path + ".bak", ec);
        if (!ec) fs::last_write_time(path, changed, ec);
        if (ec) {
            report.actions.push_back("Could not keep the original's modification time (" +
                                     ec.message() +
                                     "): its start time is now estimated from the repair.");
        }
        report.actions.push_back("Removed the partial last line (" + std::to_string(partial) +
                                 " bytes).");
    }
    if (infoFile && !infoFile->Commit()) {
        report.error = InfoFileName(path) + ": " + infoFile->Error();
        return report;
    }
    report.actions.insert(report.actions.end(), infoActions.begin(), infoActions.end());
    if (!RemoveJournal(journal, report)) return report;
    report.outcome = RepairOutcome::Repaired;
    return report;
}

}  // namespace

RepairReport RepairRecording(const std::string& given) {
    const std::string path = ResolvedPath(given);
    RepairReport report;
    std::string error;
    // The recorder's lock before anything else, held until the repaired file is
    // in place: a recording that is going on is refused, and none can start on
    // the file meanwhile. What the repair writes stays unnamed until then.
    std::unique_ptr<ReplacementFile> repaired = DefaultFileOpener().CreateReplacement(path, error);
    if (!repaired) {
        report.error = error == kBeingRecordedReason ? BeingRecorded(given) : path + ": " + error;
        return report;
    }
    // A repair works on the one file: the other files of its chain are whole
    // recordings of their own on disk.
    auto recording = OpenRecording(path, error, RecordingScope::ThisFile);
    if (!recording) {
        report.error = error;
        return report;
    }
    if (recording->Info().beingRecorded) {
        // Its recorder would go on writing into the file moved aside.
        report.error = BeingRecorded(given);
        return report;
    }
    if (!recording->Info().incomplete) {
        report.outcome = RepairOutcome::NothingToRepair;
        return report;
    }
    if (recording->Info().format == RecordingFormat::WinDaq) {
        return RepairWdq(path, std::move(recording), *repaired);
    }
    return RepairText(path, std::move(recording), *repaired);
}

}  // namespace tamix
