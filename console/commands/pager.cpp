// pager.cpp: cutting an answer into pages, and the pager's answer to each key.
#include "console/commands/pager.h"

namespace zentrel::console::commands {

std::string Pager::begin(std::string text, std::size_t pageLines, std::string more)
{
    stop();
    if (pageLines == 0)
        return text;
    m_text = std::move(text);
    m_pageLines = pageLines;
    std::string out;
    take(pageLines, out);
    if (m_pos >= m_text.size()) {
        stop();
        return out;
    }
    m_more = std::move(more);
    m_active = true;
    out += m_more;
    return out;
}

std::string Pager::next(Key key)
{
    if (!m_active)
        return {};
    std::string out = erase();
    if (key == Key::Quit) {
        stop();
        return out;
    }
    take(key == Key::Page ? m_pageLines : 1, out);
    if (m_pos >= m_text.size())
        stop();
    else
        out += m_more;
    return out;
}

void Pager::take(std::size_t lines, std::string &out)
{
    std::size_t end = m_pos;
    for (std::size_t i = 0; i < lines && end < m_text.size(); ++i) {
        const std::size_t lf = m_text.find('\n', end);
        end = lf == std::string::npos ? m_text.size() : lf + 1;
    }
    out.append(m_text, m_pos, end - m_pos);
    m_pos = end;
}

std::string Pager::erase() const
{
    const std::size_t n = m_more.size();
    return std::string(n, '\b') + std::string(n, ' ') + std::string(n, '\b');
}

void Pager::stop()
{
    // An idle session keeps no answer.
    m_active = false;
    std::string().swap(m_text);
    std::string().swap(m_more);
    m_pos = 0;
}

} // namespace zentrel::console::commands
