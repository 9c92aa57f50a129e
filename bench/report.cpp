// report.cpp: prints the figure table and the summary line, and writes the JSON file.
#include "report.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace zentrel::bench {

std::string jsonString(const std::string &text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c >= 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

std::string jsonNumber(double value, int decimals)
{
    if (!std::isfinite(value))
        return "null";
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// Thousands separated by commas, so rates read at a glance.
std::string formatNumber(double value, int decimals)
{
    if (!std::isfinite(value))
        return "n/a";
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string digits = text;
    const auto point = digits.find('.');
    std::string whole = digits.substr(0, point);
    const std::string rest = point == std::string::npos ? "" : digits.substr(point);
    const bool negative = !whole.empty() && whole[0] == '-';
    if (negative)
        whole.erase(0, 1);
    for (int at = int(whole.size()) - 3; at > 0; at -= 3)
        whole.insert(std::size_t(at), ",");
    return (negative ? "-" : "") + whole + rest;
}

void Report::add(std::string id, std::string name, std::string unit, double value, int decimals,
                 double limit, bool atMost)
{
    Figure figure{std::move(id), std::move(name), std::move(unit), value, decimals,
                  (atMost ? "<= " : ">= ") + formatNumber(limit, limit == std::floor(limit) ? 0 : 3),
                  std::nullopt, std::nullopt};
    figure.met = std::isfinite(value) && (atMost ? value <= limit : value >= limit);
    m_figures.push_back(std::move(figure));
}

void Report::addInfo(std::string id, std::string name, std::string unit, double value, int decimals)
{
    m_figures.push_back({std::move(id), std::move(name), std::move(unit), value, decimals, "", std::nullopt,
                         std::nullopt});
}

void Report::addCompared(std::string id, std::string name, std::string unit, double value,
                         double peer, int decimals, double limit, bool atMost)
{
    if (std::isnan(limit))
        addInfo(std::move(id), std::move(name), std::move(unit), value, decimals);
    else
        add(std::move(id), std::move(name), std::move(unit), value, decimals, limit, atMost);
    m_figures.back().peer = peer;
}

namespace {

double peerRatio(const Figure &f)
{
    return f.peer && f.value != 0 ? *f.peer / f.value : std::nan("");
}

} // namespace

void Report::fail(const std::string &what) { m_failures.push_back(what); }
void Report::note(const std::string &what) { m_notes.push_back(what); }

void Report::addRound(const std::string &phase, const std::string &json)
{
    for (auto &[name, rounds] : m_rounds) {
        if (name == phase) {
            rounds.push_back(json);
            return;
        }
    }
    m_rounds.push_back({phase, {json}});
}

void Report::printTable() const
{
    bool compared = false;
    for (const Figure &f : m_figures)
        compared = compared || f.peer.has_value();
    const int metWidth = compared ? 3 : 0;
    std::printf("\n%-40s %-10s %14s %14s  %-*s", "figure", "unit", "value", "target", metWidth, "met");
    if (compared)
        std::printf(" %14s %8s", "asyncio", "ratio");
    std::printf("\n%s\n", std::string(compared ? 114 : 90, '-').c_str());
    for (const Figure &f : m_figures) {
        const char *met = !f.met ? "-" : *f.met ? "yes" : "NO";
        std::printf("%-40s %-10s %14s %14s  %-*s", f.name.c_str(), f.unit.c_str(),
                    formatNumber(f.value, f.decimals).c_str(), f.target.empty() ? "-" : f.target.c_str(),
                    metWidth, met);
        if (f.peer)
            std::printf(" %14s %8s", formatNumber(*f.peer, f.decimals).c_str(),
                        formatNumber(peerRatio(f), 2).c_str());
        std::printf("\n");
    }
    if (compared)
        std::printf("(asyncio: the same work served by bench/asyncio_peer.py; ratio: asyncio / Zentrel)\n");
    for (const std::string &note : m_notes)
        std::printf("note: %s\n", note.c_str());
    for (const std::string &failure : m_failures)
        std::printf("FAULT: %s\n", failure.c_str());
}

std::string Report::summary(int streams, double seconds) const
{
    int targets = 0;
    int met = 0;
    for (const Figure &f : m_figures) {
        if (f.met) {
            ++targets;
            met += *f.met ? 1 : 0;
        }
    }
    std::ostringstream line;
    line << (failed() ? "FAIL: " : "OK: ") << met << " of " << targets << " targets met; "
         << streams << " streams received";
    if (failed())
        line << ", " << m_failures.size() << " fault(s), first: " << m_failures.front();
    else
        line << ", every one byte-exact";
    line << "; " << formatNumber(seconds, 0) << " s";
    return line.str();
}

bool Report::writeJson(const std::string &path, const std::string &header) const
{
    std::ostringstream out;
    out << "{\n" << header << "  \"ok\": " << (failed() ? "false" : "true") << ",\n  \"failures\": [";
    for (std::size_t i = 0; i < m_failures.size(); ++i)
        out << (i ? ", " : "") << jsonString(m_failures[i]);
    out << "],\n  \"notes\": [";
    for (std::size_t i = 0; i < m_notes.size(); ++i)
        out << (i ? ", " : "") << jsonString(m_notes[i]);
    out << "],\n  \"figures\": [\n";
    for (std::size_t i = 0; i < m_figures.size(); ++i) {
        const Figure &f = m_figures[i];
        out << "    {\"id\": " << jsonString(f.id) << ", \"figure\": " << jsonString(f.name)
            << ", \"unit\": " << jsonString(f.unit) << ", \"value\": " << jsonNumber(f.value)
            << ", \"target\": " << (f.target.empty() ? "null" : jsonString(f.target))
            << ", \"met\": " << (!f.met ? "null" : *f.met ? "true" : "false");
        if (f.peer)
            out << ", \"asyncio\": " << jsonNumber(*f.peer) << ", \"ratio_asyncio\": "
                << jsonNumber(peerRatio(f), 4);
        out << "}"
            << (i + 1 < m_figures.size() ? ",\n" : "\n");
    }
    out << "  ],\n  \"rounds\": {";
    for (std::size_t p = 0; p < m_rounds.size(); ++p) {
        out << (p ? "," : "") << "\n    " << jsonString(m_rounds[p].first) << ": [";
        const auto &rounds = m_rounds[p].second;
        for (std::size_t i = 0; i < rounds.size(); ++i)
            out << (i ? ",\n      " : "\n      ") << rounds[i];
        out << "\n    ]";
    }
    out << "\n  }\n}\n";
    std::ofstream file(path, std::ios::trunc);
    file << out.str();
    return bool(file);
}

} // namespace zentrel::bench
