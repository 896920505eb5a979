#include "PortNaming.h"

std::string WindowsComDeviceName(int port)
{
    const std::string number = std::to_string(port);
    return port <= 9 ? "COM" + number : "\\\\.\\COM" + number;
}
