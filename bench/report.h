// report.h: the figures of a run, printed as a table and written as JSON.
#pragma once
#include <cmath>
#include <optional>
#include <string>
#include <vector>

namespace zentrel::bench {

struct Figure
{
    std::string id;          // stable key for comparing runs
    std::string name;
    std::string unit;
    double value = 0;        // NaN when it could not be measured
    int decimals = 1;
    std::string target;      // "<= 2", ">= 1000000", or empty for information only
    std::optional<bool> met; // empty for information only
    // The same figure measured on the asyncio peer, for the fleet's side-by-side rows.
    std::optional<double> peer;
};

class Report
{
public:
    // A figure with a target: `atMost` says which side of `limit` meets it.
    void add(std::string id, std::string name, std::string unit, double value, int decimals,
             double limit, bool atMost);
    // A figure shown for information, without a target.
    void addInfo(std::string id, std::string name, std::string unit, double value, int decimals);
    // Either of the above with the asyncio peer's value beside it (limit NaN: no target);
    // the table shows both and their ratio, peer over Zentrel.
    void addCompared(std::string id, std::string name, std::string unit, double value, double peer,
                     int decimals, double limit = std::nan(""), bool atMost = true);
    // A fault found in the product: wrong bytes, a crash, no clean stop.
    void fail(const std::string &what);
    void note(const std::string &what);
    // Per-round details kept in the JSON under "rounds.<phase>"; `json` is an object.
    void addRound(const std::string &phase, const std::string &json);

    bool failed() const { return !m_failures.empty(); }
    const std::vector<std::string> &failures() const { return m_failures; }
    const std::vector<Figure> &figures() const { return m_figures; }

    void printTable() const;
    std::string summary(int streams, double seconds) const;
    bool writeJson(const std::string &path, const std::string &header) const;

private:
    std::vector<Figure> m_figures;
    std::vector<std::string> m_failures;
    std::vector<std::string> m_notes;
    std::vector<std::pair<std::string, std::vector<std::string>>> m_rounds;
};

std::string jsonString(const std::string &text);
std::string jsonNumber(double value, int decimals = 6);
std::string formatNumber(double value, int decimals);

} // namespace zentrel::bench
