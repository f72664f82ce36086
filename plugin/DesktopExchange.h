#pragma once
// The effect's side of the exchange with the Quillane desktop application:
// sending the current frame through the image record (with the current
// preset through "LutPresetSave.qlp"), starting the application, and taking
// its answer back from the LUT record (with its preset from
// "LutPreset<id>.qlp"). Both preset files live in exchangeDirectory().
//
// The records are shared with another process and are ordered only by their
// flag words: every data field is written before the flag that announces it,
// and every answer is checked before it is believed.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "desktop/MemoryMappingFile.h"
#include "lut/Lut.h"

class FxBitmap;

namespace desktop_exchange {

// The preset that goes out with a frame; one file for every instance of the process.
inline constexpr char kOutgoingPresetName[] = "LutPresetSave.qlp";

// An incoming preset larger than this is refused: presets are a few kilobytes,
// and the bytes end up base64-encoded in the host's project.
inline constexpr std::int64_t kMaxPresetFileSize = 64 * 1024 * 1024;

// exchangeDirectory() + "LutPresetSave.qlp".
std::string outgoingPresetPath();
// exchangeDirectory() + "LutPreset" + id in decimal + ".qlp".
std::string incomingPresetPath(int instanceId);

// The size of the file in bytes, or -1 when it cannot be opened.
std::int64_t filesize(const char* path);

// How the settings' "ModalPluginMode" value is read: modal when empty or
// exactly "1", non-modal for anything else.
bool isModalPluginMode(const std::string& value);

// Writes bytes into a fresh file at path: an older file of that name is
// removed first, then the file is created exclusively without following a
// symbolic link, readable by its owner only. False (and no file left behind)
// when any step fails.
bool writeOutgoingPreset(const std::string& path, const std::vector<char>& bytes);

// The bytes of the preset file at path, or nothing when it cannot be opened,
// is not a regular file, or holds more than kMaxPresetFileSize bytes. Exactly
// the bytes the file holds, however its size changes while it is read.
std::optional<std::vector<char>> readIncomingPreset(const std::string& path);

enum class FrameResult {
    Written,   // the frame is in the record, both records announce this instance
    NoRecord,  // a record is not mapped: nothing written
    TooLarge,  // more pixels than the record holds: nothing written
    BadFrame,  // not a 32-bit float bitmap of its stated size: nothing written
};

// Fills the image record with the bitmap (alpha, red, green, blue floats) as
// clamped RGBA with alpha 1.0 and readies the LUT record for the answer.
// Leaves the image record's busy word raised: the caller lowers it (with
// lowerBusy) once the outgoing preset file is written.
FrameResult writeFrame(ImageMapping* image, LutMapping* lut, std::uint32_t instanceId, const FxBitmap& bitmap);
FrameResult writeFrame(ImageMapping* image, LutMapping* lut, std::uint32_t instanceId, const float* argb,
                       std::uint32_t width, std::uint32_t height);
void lowerBusy(ImageMapping* image);

enum class SendResult {
    NotSent,   // nothing was written and nothing started
    Modal,     // the application has run and ended: look for its answer once
    NonModal,  // the application runs on its own: look for its answer on every render
};

// The whole send: the frame into the records, the preset written to
// presetPath and handed to the application (or else the LUT's name, for a LUT
// from a file its path, unchanged), and the application started in the mode
// the settings ask for. When nothing is sent, the reason goes to *why (one
// line for the user), or to standard error when why is null; so does the
// reason the application could not be started (the frame is sent all the same).
SendResult sendToDesktop(ImageMapping* image, LutMapping* lut, std::uint32_t instanceId, const FxBitmap& bitmap,
                         const std::vector<char>& preset, const std::string& lutName, const std::string& presetPath,
                         std::string* why = nullptr);

// What the application handed back.
struct DesktopAnswer {
    Lut lut;
    std::string name;                        // "Quillane " + the record's name
    std::optional<std::vector<char>> preset;  // set only when a preset came with the LUT
};

enum class AnswerResult {
    None,     // no answer for this instance is waiting
    Refused,  // an answer for this instance was there but unusable; it has been cleared
    Taken,    // *answer holds it; the record's flags are cleared
};

// Looks for an answer for instanceId in the LUT record and takes it, with the
// preset from presetPath when the image record flags one. Costs three word
// reads when nothing is waiting. An answer whose dimSize lies outside 1 ... 64,
// or whose input range is not finite, is refused whole (its flagged preset too).
AnswerResult takeAnswer(ImageMapping* image, LutMapping* lut, std::uint32_t instanceId, const std::string& presetPath,
                        DesktopAnswer* answer);

}  // namespace desktop_exchange
