// fuzz_profile.cpp: libFuzzer target for the settings file's reader and writer.
//
// The input is a settings file and the names and value of one write. Beyond
// "no crash", the file being arbitrary bytes:
// - a read returns at most size - 1 bytes;
// - a write with a valid section, key and value succeeds, and one that is
//   refused leaves the file's bytes as they were;
// - after a write, the key reads back as the value written, without the
//   blanks around it (as the reader drops them), unless the key starts with
//   a byte that makes its line a comment or a section header;
// - every other key of the section reads the same before and after.
#include "platform/posix/posix_ini_scan.h"
#include "platform/posix/posix_profile.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace {

using zentrel::platform::ini::trimmed;

constexpr std::size_t Large = 4096;
const char *const Missing = "\x01(missing)";

// A directory of this process's own, removed when the process ends.
struct ScratchFile {
    std::string directory, path;
    ScratchFile()
    {
        const char *base = std::getenv("TMPDIR");
        directory = std::string(base && *base ? base : "/tmp") + "/zentrel-fuzz-XXXXXX";
        if (!::mkdtemp(directory.data()))
            std::abort();
        path = directory + "/zentrel.ini";
    }
    ~ScratchFile()
    {
        ::unlink(path.c_str());
        ::rmdir(directory.c_str());
    }
};

const std::string &scratchFile()
{
    static const ScratchFile file;
    return file.path;
}

void writeFile(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

[[noreturn]] void fail(const char *what, const std::string &want, const std::string &got)
{
    std::fprintf(stderr, "%s\n  want (%zu bytes): %s\n  got  (%zu bytes): %s\n", what, want.size(),
                 want.c_str(), got.size(), got.c_str());
    std::abort();
}

bool breaksLines(std::string_view text)
{
    return text.find_first_of("\r\n") != std::string_view::npos;
}

bool sameName(std::string_view a, std::string_view b)
{
    a = trimmed(a);
    b = trimmed(b);
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    const std::string section =
        input.ConsumeBool() ? std::string("Settings") : input.ConsumeRandomLengthString(16);
    const std::string key = input.ConsumeRandomLengthString(16);
    const std::string otherKey = input.ConsumeRandomLengthString(16);
    const std::string value = input.ConsumeRandomLengthString(160);
    const std::string file = input.ConsumeRemainingBytesAsString();

    const std::string &path = scratchFile();
    writeFile(path, file);
    zentrel::platform::PosixProfile profile;

    const std::string read = profile.getString(section, key, "default", 100, path);
    if (read.size() > 99)
        fail("a read of size 100 returned more than 99 bytes", read.substr(0, 99), read);
    const std::string otherBefore = profile.getString(section, otherKey, Missing, Large, path);

    // The writer, like the reader, leaves out the blanks around the names.
    const std::string_view name = trimmed(key);
    const std::string_view sectionName = trimmed(section);
    const bool valid = !name.empty() && name.find('=') == std::string_view::npos
        && !breaksLines(name) && sectionName.find(']') == std::string_view::npos
        && !breaksLines(sectionName) && !breaksLines(value);
    const bool written = profile.writeString(section, key, value, path);
    if (written != valid)
        fail(valid ? "a valid write was refused" : "an invalid write was made", file, readFile(path));
    if (!written) {
        const std::string after = readFile(path);
        if (after != file)
            fail("a refused write changed the file", file, after);
        return 0;
    }

    // A key line starting with ';', '#' or '[' reads as a comment or a header.
    if (name.front() != ';' && name.front() != '#' && name.front() != '[') {
        const std::string back = profile.getString(section, key, Missing, Large, path);
        const std::string want(trimmed(value).substr(0, Large - 1));
        if (back != want)
            fail("the value written does not read back", want, back);
    }
    if (!sameName(otherKey, key)) {
        const std::string otherAfter = profile.getString(section, otherKey, Missing, Large, path);
        if (otherAfter != otherBefore)
            fail("a write changed another key", otherBefore, otherAfter);
    }
    return 0;
}
