// error.h: the numbered failures that platform operations report.
#pragma once
#include <stdexcept>
#include <string>

namespace zentrel::platform {

// Codes the handlers look at. Start-up recovers from FileNotFound and
// reports InvalidPropertyValue (a port the listener cannot take) as the
// port alarm; everything else is "some other failure".
enum ErrorCode : int {
    Overflow = 6,
    FileNotFound = 53,
    DeviceIoError = 57,
    FileAlreadyExists = 58,
    InputPastEnd = 62,
    TooManyFiles = 67,   // out of descriptors: transient, worth another try
    PathFileAccess = 75,
    InvalidPropertyValue = 380,
    SocketError = 10000,
};

class Error : public std::runtime_error
{
public:
    Error(int code, const std::string &what) : std::runtime_error(what), m_code(code) {}
    int code() const { return m_code; }

private:
    int m_code;
};

} // namespace zentrel::platform
