// cast_file.cpp: the asciicast v2 transcript of a recorded session.
#include "record/cast_file.h"
#include "serve/json.h"

#include <cerrno>
#include <cstring>

namespace zentrel::record {

CastFile::~CastFile()
{
    if (m_file)
        std::fclose(m_file);
}

bool CastFile::open(const std::string &path, double unixTime, const std::string &title,
                    std::string &error)
{
    m_path = path;
    m_file = std::fopen(path.c_str(), "wb");
    if (!m_file) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%.0f", unixTime);
    std::string header = "{\"version\": 2, \"width\": 80, \"height\": 24, \"timestamp\": ";
    header += stamp;
    header += ", \"title\": ";
    serve::appendJsonString(header, title);
    header += "}\n";
    if (std::fputs(header.c_str(), m_file) < 0 || std::fflush(m_file) != 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void CastFile::event(double seconds, const char *code, std::string_view data)
{
    if (!m_file || m_failed)
        return;
    char time[32];
    std::snprintf(time, sizeof time, "[%.6f, \"%s\", ", seconds < 0 ? 0.0 : seconds, code);
    std::string line = time;
    serve::appendJsonString(line, data);
    line += "]\n";
    if (std::fwrite(line.data(), 1, line.size(), m_file) != line.size() || std::fflush(m_file) != 0)
        m_failed = true;
}

bool CastFile::close(std::string &error)
{
    if (!m_file)
        return true;
    const bool closed = std::fclose(m_file) == 0;
    m_file = nullptr;
    if (m_failed || !closed) {
        error = m_path + ": the transcript could not be written whole";
        return false;
    }
    return true;
}

} // namespace zentrel::record
