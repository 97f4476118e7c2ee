#include "recording/OpenRecording.h"

#include <algorithm>
#include <cctype>
#include <fstream>

#include "recording/ChainReader.h"
#include "recording/OutputFile.h"
#include "recording/TextFileReader.h"
#include "recording/WdqFileReader.h"

namespace tamix {
namespace {

bool EndsWithNoCase(const std::string& text, std::string_view suffix) {
    if (text.size() < suffix.size()) return false;
    return std::equal(suffix.begin(), suffix.end(), text.end() - static_cast<long>(suffix.size()),
                      [](char a, char b) {
                          return std::tolower(static_cast<unsigned char>(a)) ==
                                 std::tolower(static_cast<unsigned char>(b));
                      });
}

// A text recording starts with a digit (the time of scan 0).
bool LooksLikeText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char c = 0;
    return in.get(c) && (std::isdigit(static_cast<unsigned char>(c)) || c == '-');
}

}  // namespace

void NoteRecorderHold(const std::string& path, RecordingInfo& info) {
    info.beingRecorded = HeldByRecorder(path);
    if (!info.beingRecorded) return;
    for (std::string& note : info.notes) {
        if (note == kCutShortNote) note = "It is being recorded: what is on disk so far is read.";
    }
}

std::unique_ptr<RecordingReader> OpenRecording(const std::string& path, std::string& error,
                                               RecordingScope scope) {
    if (scope == RecordingScope::ThisFile) return OpenRecordingFile(path, error);
    return ChainReader::Open(path, error);
}

std::unique_ptr<RecordingReader> OpenRecordingFile(const std::string& path, std::string& error) {
    if (EndsWithNoCase(path, ".wdq")) return WdqFileReader::Open(path, error);
    if (EndsWithNoCase(path, ".dat") || LooksLikeText(path)) {
        return TextFileReader::Open(path, error);
    }
    return WdqFileReader::Open(path, error);
}

}  // namespace tamix
