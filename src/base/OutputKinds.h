// What a run records to: the output type and whether anything is saved. The
// numbers are the ones the profile and the dialog's controls hold.
#pragma once

#include <cstdint>

namespace tamix {

enum class FileType : int32_t { WinDaq = 0, Text = 1 };
enum class SaveMode : int32_t { ScreenOnly = 0, ToFile = 1 };

inline FileType FileTypeOf(int value) {
    return value == 1 ? FileType::Text : FileType::WinDaq;
}

}  // namespace tamix
