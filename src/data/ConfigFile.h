#pragma once
// Configuration files (".cfg" in "Configure/"): a configuration saved from the
// window to be loaded again later, for example to set up a batch of detectors
// alike. A file is a 24-byte header and a body whose layout depends on the
// file version. The tool writes version 7 and reads versions 1 to 8: 1 to 7
// are the layouts of earlier releases of the tool, field by field; 8 is the
// detector's own 128-byte configuration image.
//
// Header (little-endian):
//   0  int32   file version
//   4  4       reserved (0)
//   8  double  time of saving, days since 30 Dec 1899 (local time)
//   16 uint8   1 = saved in factory mode, 0 = user mode
//   17 7       reserved (0)
// Readers use only the version; time and mode are for people.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <QDateTime>

#include "ZelRecords.h"

namespace cfgfile {
constexpr std::size_t kHeaderSize = 24;
constexpr std::int32_t kWriteVersion = 7;
constexpr std::int32_t kImageVersion = 8;
constexpr std::size_t kWriteBodySize = 116;
constexpr std::size_t kWrittenFileSize = kHeaderSize + kWriteBodySize;
constexpr std::size_t kModeOffset = 16;
constexpr std::size_t kTimeOffset = 8;
}  // namespace cfgfile

// Body size of a file version; 0 for a version the tool does not know.
std::size_t ConfigBodySize(std::int32_t version);

// Local date and time as days since 30 December 1899, the fraction being the
// time of day (before that date the whole days count back and the fraction
// still counts forward, as in the Windows date format these files use).
double ConfigFileTime(const QDateTime& localTime);

std::array<std::uint8_t, cfgfile::kHeaderSize> PackFileHeader(std::int32_t version, double savedAt,
                                                               bool factoryMode);

// The version-7 body of a configuration; gaps between the fields are 0.
std::array<std::uint8_t, cfgfile::kWriteBodySize> PackFileRecord(const RZELCFG& cfg);

// A body of versions 1..7 as a complete record: fields the version lacks get
// the values older releases implied (user ID blanks, test interval 20 h,
// suspend not allowed, no calibration or bump interval, no last bump), and
// reserved bytes and both CRC fields are 0. False when the version is not
// 1..7 or the body is shorter than that version's body.
bool UnpackFileRecord(std::int32_t version, std::span<const std::uint8_t> body, RZELCFG& out);

// The fields a loaded file sets in the current configuration: what a person
// configures (flags, user ID, intervals, serial, battery limits, versions,
// life, alarm set points, sensor type and range, temperature compensation).
// Counters, times, calibration results, reserved bytes and CRCs stay as
// they are in `current`.
RZELCFG MergeContributedFields(const RZELCFG& current, const RZELCFG& fromFile);

// Writes the 140-byte version-7 file, whole or not at all.
bool WriteConfigFile(const std::string& path, const RZELCFG& cfg, bool factoryMode, const QDateTime& now);

enum class ConfigFileResult { Ok, CannotOpen, WrongFile, NotAFile };

// The contributed fields a file of this version does not hold (whole or in
// part), by the names people use; they get the values older releases
// implied. Empty for versions 7 and 8.
std::vector<std::string> FieldsNotInVersion(std::int32_t version);

// Reads a file of versions 1..8 into `out` = `current` with the contributed
// fields of the file. On failure `out` is left untouched. Only a regular file
// is read (a device or a pipe gives NotAFile at once). `notHeld`, when given,
// gets FieldsNotInVersion of the file's version.
ConfigFileResult ReadConfigFile(const std::string& path, const RZELCFG& current, RZELCFG& out,
                                std::vector<std::string>* notHeld = nullptr);

struct ConfigFileMessage {
    const char* text;  // "\r" is a line break
    const char* caption;
};

// The error box for a failed read; text and caption empty for Ok.
ConfigFileMessage ReadConfigFileMessage(ConfigFileResult result);
ConfigFileMessage WriteConfigFileFailedMessage();
