// counting_text_files.cpp: real files that keep count of the streams and output files still alive.
#include "tests/support/counting_text_files.h"

#include "platform/posix/posix_text_files.h"

namespace zentrel::tests {

namespace {

// One byte per refill: the inner stream keeps its own buffer, and a read
// failure reaches the caller at the very byte where it happened.
class CountedInput : public platform::InputStream
{
public:
    CountedInput(std::unique_ptr<platform::InputStream> inner, std::shared_ptr<int> alive)
        : m_inner(std::move(inner)), m_alive(std::move(alive))
    {
        ++*m_alive;
    }
    ~CountedInput() override { --*m_alive; }
    CountedInput(const CountedInput &) = delete;
    CountedInput &operator=(const CountedInput &) = delete;

protected:
    bool refill() override
    {
        const int byte = m_inner->get();
        if (byte < 0)
            return false;
        m_byte = char(byte);
        m_pos = &m_byte;
        m_end = m_pos + 1;
        return true;
    }

private:
    std::unique_ptr<platform::InputStream> m_inner;
    std::shared_ptr<int> m_alive;
    char m_byte = 0;
};

class CountedOutput : public platform::OutputFile
{
public:
    CountedOutput(std::unique_ptr<platform::OutputFile> inner, std::shared_ptr<int> alive)
        : m_inner(std::move(inner)), m_alive(std::move(alive))
    {
        ++*m_alive;
    }
    ~CountedOutput() override { --*m_alive; }
    CountedOutput(const CountedOutput &) = delete;
    CountedOutput &operator=(const CountedOutput &) = delete;

    void writeLine(std::string_view text) override { m_inner->writeLine(text); }
    void commit() override { m_inner->commit(); }
    void discard() override { m_inner->discard(); }

private:
    std::unique_ptr<platform::OutputFile> m_inner;
    std::shared_ptr<int> m_alive;
};

} // namespace

CountingTextFiles::CountingTextFiles()
    : m_own(std::make_unique<platform::PosixTextFiles>()), m_files(*m_own)
{
}

CountingTextFiles::CountingTextFiles(platform::TextFiles &files) : m_files(files) {}

CountingTextFiles::~CountingTextFiles() = default;

std::unique_ptr<platform::InputStream> CountingTextFiles::openInput(const std::string &path)
{
    auto stream = std::make_unique<CountedInput>(m_files.openInput(path), m_alive);
    ++m_opened;
    return stream;
}

std::unique_ptr<platform::OutputFile> CountingTextFiles::createOutput(const std::string &path,
                                                                     Creation creation)
{
    auto file = std::make_unique<CountedOutput>(m_files.createOutput(path, creation), m_alive);
    ++m_opened;
    return file;
}

} // namespace zentrel::tests
