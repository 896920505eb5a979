#pragma once
#include <string>

// Device name of a numbered COM port on Windows: the short form works only up
// to COM9, higher numbers need the device namespace prefix.
std::string WindowsComDeviceName(int port);
