// profile.h: private-profile (INI) files: one value read or written per call.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace zentrel::platform {

class Profile
{
public:
    virtual ~Profile() = default;

    // The value of the key, or the default when the file, the section or the
    // key is missing or the file cannot be read. At most size - 1 bytes are
    // returned. Section and key match without regard to case.
    virtual std::string getString(std::string_view section, std::string_view key,
                                  std::string_view defaultValue, std::size_t size,
                                  const std::string &path) = 0;
    // Sets the value, adding the key, the section and the file as needed;
    // every other line of the file stays as it was. False when the file could
    // not be written; the callers ignore it.
    virtual bool writeString(std::string_view section, std::string_view key,
                             std::string_view value, const std::string &path) = 0;
};

} // namespace zentrel::platform
