#pragma once
// Every file the tool reads or writes lives under the program directory: the
// process's working directory at start-up, always ending in "/". The default
// save folders are fixed sub-folders of it.
#include <string>

namespace folders {
inline constexpr const char* kSettingsFile = "LUMBRA.INI";
inline constexpr const char* kConfigure = "Configure/";
inline constexpr const char* kFirmware = "IMG/";
inline constexpr const char* kEvent = "EVENT/";
inline constexpr const char* kEeprom = "EEPROM/";
inline constexpr const char* kDataLog = "DAT/";
}  // namespace folders

// `currentDir` with a "/" appended when it does not already end in one; "/"
// when it is empty (the root stands in for the drive root of the original
// Windows tool).
std::string ProgramDirectory(const std::string& currentDir);

// ProgramDirectory() of the process's working directory right now. Call it
// once at start-up and keep the result: later changes of the working
// directory must not move the settings file.
std::string ProgramDirectoryNow();

// Full path of the settings file for a program directory.
std::string SettingsFilePath(const std::string& programDir);

// The leading part of `filePath` up to and including its last "/"; empty when
// the path has no folder part.
std::string FolderOf(const std::string& filePath);
