#include "ProgramDirectory.h"

#include <QDir>

std::string ProgramDirectory(const std::string& currentDir)
{
    if (currentDir.empty())
        return "/";
    if (currentDir.back() == '/')
        return currentDir;
    return currentDir + "/";
}

std::string ProgramDirectoryNow()
{
    return ProgramDirectory(QDir::currentPath().toStdString());
}

std::string SettingsFilePath(const std::string& programDir)
{
    return programDir + folders::kSettingsFile;
}

std::string FolderOf(const std::string& filePath)
{
    const std::size_t slash = filePath.rfind('/');
    return slash == std::string::npos ? std::string() : filePath.substr(0, slash + 1);
}
