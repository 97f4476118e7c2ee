#include "recording/RecordingRepair.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "base/MarkerTable.h"
#include "base/TextLimits.h"
#include "base/Utf8Text.h"
#include "recording/OpenRecording.h"
#include "recording/OutputFile.h"
#include "recording/TextFileReader.h"
#include "recording/TextWriter.h"
#include "recording/WdqFileReader.h"
#include "recording/WdqWriter.h"

namespace tamix {
namespace {

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// Moves the original aside; the repaired file is written under its name.
bool MakeBackup(const std::string& path, RepairReport& report) {
    const std::string backup = path + ".bak";
    if (Exists(backup)) {
        report.error = backup + ": already exists; move it away before repairing " + path;
        return false;
    }
    if (std::rename(path.c_str(), backup.c_str()) != 0) {
        report.error =
            path + ": cannot keep the original as " + backup + " (" + std::strerror(errno) + ")";
        return false;
    }
    report.actions.push_back("Kept the original as " + backup + ".");
    return true;
}

// Puts the original back after a failed repair.
void RestoreBackup(const std::string& path, RepairReport& report) {
    std::remove(path.c_str());
    std::rename((path + ".bak").c_str(), path.c_str());
    report.actions.clear();
    report.outcome = RepairOutcome::Failed;
}

std::unique_ptr<MarkerTable> StartMarker() {
    auto markers = std::make_unique<MarkerTable>();
    markers->markerPos[0] = 0;
    CopyText(markers->markerText[0], "Acquisition start", kCommentChars);
    markers->markerCount.store(1);
    return markers;
}

bool WriteRepairedWdq(const WdqFileReader& original, const std::string& path,
                      RepairReport& report) {
    const RecordingInfo& info = original.Info();
    const WdqLayout& layout = original.Layout();
    std::string error;
    std::unique_ptr<OutputFile> file = DefaultFileOpener().Create(path, error);
    if (!file) {
        report.error = path + ": " + error;
        return false;
    }
    const uint64_t dataBytes = static_cast<uint64_t>(info.scanCount) * layout.scanBytes;
    std::vector<uint8_t> header(layout.headerBytes);
    if (!original.ReadBytes(0, header, error)) {
        report.error = error;
        return false;
    }
    // Sizes are patched below as the writer patches them.
    std::fill_n(header.begin() + 8, 10, uint8_t{0});
    bool ok = file->Write(header.data(), header.size());
    constexpr uint64_t kChunk = 1 << 20;
    std::vector<uint8_t> chunk(static_cast<std::size_t>(std::min(kChunk, dataBytes)));
    bool readOk = true;
    for (uint64_t p = 0; ok && readOk && p < dataBytes; p += kChunk) {
        const auto count = static_cast<std::size_t>(std::min(kChunk, dataBytes - p));
        readOk = original.ReadBytes(layout.dataOffset + p, std::span(chunk).first(count), error);
        ok = readOk && file->Write(chunk.data(), count);
    }
    if (!readOk) {
        report.error = error;
        return false;
    }
    const auto markers = StartMarker();
    ok = ok && WriteWdqTrailer(*file, *markers, 1, info.channels, info.startTime) &&
         PatchWdqDataSize(*file, dataBytes) && file->Close();
    if (!ok) {
        report.error = path + ": " + file->Error();
        return false;
    }
    report.actions.push_back("Set the data size to the " + std::to_string(info.scanCount) +
                             " whole scans on disk (" + std::to_string(dataBytes) + " bytes).");
    const uint64_t dropped = original.FileSize() - layout.dataOffset - dataBytes;
    if (dropped > 0) {
        report.actions.push_back("Left out " + std::to_string(dropped) +
                                 " bytes after the last whole scan.");
    }
    report.actions.push_back("Appended a trailer with the start marker and the channel names " +
                             std::string(info.channels.front().Name()) +
                             (info.channels.size() > 1 ? "..." : "") + ".");
    return true;
}

RepairReport RepairWdq(const std::string& path) {
    RepairReport report;
    if (!MakeBackup(path, report)) return report;
    std::string error;
    const auto original = WdqFileReader::Open(path + ".bak", error);
    if (!original || !WriteRepairedWdq(*original, path, report)) {
        if (!original) report.error = error;
        RestoreBackup(path, report);
        return report;
    }
    report.outcome = RepairOutcome::Repaired;
    return report;
}

bool WriteInfo(const std::string& dataPath, const RecordingInfo& info, RepairReport& report) {
    const std::string infoPath = InfoFileName(dataPath);
    std::string error;
    std::unique_ptr<OutputFile> file = DefaultFileOpener().Create(infoPath, error);
    if (!file) {
        report.error = infoPath + ": " + error;
        return false;
    }
    const auto markers = StartMarker();
    if (!WriteInfoFile(*file, info.channels, *markers, 1, info.period) || !file->Close()) {
        report.error = infoPath + ": " + file->Error();
        std::remove(infoPath.c_str());
        return false;
    }
    report.actions.push_back("Wrote the missing info file " + infoPath + " with " +
                             std::to_string(info.channels.size()) +
                             " default channel names and the start marker.");
    return true;
}

RepairReport RepairText(const std::string& path, const TextFileReader& reader) {
    RepairReport report;
    const RecordingInfo& info = reader.Info();
    const uint64_t size = reader.FileSize();
    if (reader.WholeBytes() < size) {
        if (!MakeBackup(path, report)) return report;
        // The open reader still reads the original, now named FILE.bak.
        std::string error;
        std::unique_ptr<OutputFile> file = DefaultFileOpener().Create(path, error);
        bool ok = file != nullptr;
        bool readOk = true;
        constexpr uint64_t kChunk = 1 << 20;
        std::vector<uint8_t> chunk(static_cast<std::size_t>(std::min(kChunk, reader.WholeBytes())));
        for (uint64_t p = 0; ok && p < reader.WholeBytes(); p += kChunk) {
            const auto count = static_cast<std::size_t>(std::min(kChunk, reader.WholeBytes() - p));
            readOk = reader.ReadBytes(p, std::span(chunk).first(count), error);
            ok = readOk && file->Write(chunk.data(), count);
        }
        ok = ok && file->Close();
        if (!ok) {
            report.error = !readOk ? error : path + ": " + (file ? file->Error() : error);
            RestoreBackup(path, report);
            return report;
        }
        // A text recording's start time is estimated from its last change
        // (TextFileReader): the repaired file keeps the original's.
        std::error_code ec;
        const auto changed = std::filesystem::last_write_time(path + ".bak", ec);
        if (!ec) std::filesystem::last_write_time(path, changed, ec);
        if (ec) {
            report.actions.push_back("Could not keep the original's modification time (" +
                                     ec.message() +
                                     "): its start time is now estimated from the repair.");
        }
        report.actions.push_back("Removed the partial last line (" +
                                 std::to_string(size - reader.WholeBytes()) + " bytes).");
    }
    if (!reader.HasInfoFile() && !WriteInfo(path, info, report)) {
        report.outcome = RepairOutcome::Failed;
        return report;
    }
    report.outcome = RepairOutcome::Repaired;
    return report;
}

}  // namespace

RepairReport RepairRecording(const std::string& path) {
    std::string error;
    auto recording = OpenRecording(path, error);
    if (!recording) {
        RepairReport report;
        report.error = error;
        return report;
    }
    if (recording->Info().beingRecorded) {
        // Its recorder would go on writing into the file moved aside.
        RepairReport report;
        report.error = path + ": it is being recorded; repair it once the recording has ended";
        return report;
    }
    if (!recording->Info().incomplete) {
        RepairReport report;
        report.outcome = RepairOutcome::NothingToRepair;
        return report;
    }
    if (recording->Info().format == RecordingFormat::WinDaq) {
        recording.reset();
        return RepairWdq(path);
    }
    return RepairText(path, static_cast<const TextFileReader&>(*recording));
}

}  // namespace tamix
