// fleet_chart.cpp: draws the fleet figures as an SVG, one small panel of two bars per figure.
#include "fleet.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace zentrel::bench {

namespace {

constexpr int columns = 3;
constexpr int panelWidth = 320;
constexpr int panelHeight = 96;
constexpr int labelWidth = 92;
constexpr int barHeight = 18;
constexpr int top = 58;

std::string escaped(const std::string &text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out += c;
        }
    }
    return out;
}

// The limit of a target such as "<= 500", NaN when there is none.
double targetLimit(const std::string &target)
{
    if (target.size() < 4)
        return std::nan("");
    std::string digits;
    for (const char c : target.substr(3))
        if (c != ',')
            digits += c;
    return std::atof(digits.c_str());
}

void panel(std::ostream &svg, const Figure &f, int x, int y)
{
    const double peer = f.peer ? *f.peer : std::nan("");
    const double limit = targetLimit(f.target);
    double scale = 0;
    for (const double v : {f.value, peer, limit})
        if (std::isfinite(v))
            scale = std::max(scale, v);
    scale = scale > 0 ? scale * 1.12 : 1;
    const int plotWidth = panelWidth - labelWidth - 112;   // room for "1,975.191 (×12)"
    svg << "<text x='" << x << "' y='" << y + 12 << "' class='title'>" << escaped(f.name) << " ("
        << escaped(f.unit) << ")</text>\n";
    const struct
    {
        const char *name;
        double value;
        const char *colour;
    } bars[] = {{"zentrel-serve", f.value, "#2b6cb0"}, {"asyncio", peer, "#c05621"}};
    for (int i = 0; i < 2; ++i) {
        const int by = y + 24 + i * (barHeight + 6);
        svg << "<text x='" << x << "' y='" << by + 13 << "' class='label'>" << bars[i].name << "</text>\n";
        const double v = bars[i].value;
        const int w = std::isfinite(v) ? std::max(1, int(std::lround(plotWidth * std::max(0.0, v) / scale))) : 0;
        svg << "<rect x='" << x + labelWidth << "' y='" << by << "' width='" << w << "' height='"
            << barHeight << "' fill='" << bars[i].colour << "'/>\n";
        svg << "<text x='" << x + labelWidth + w + 4 << "' y='" << by + 13 << "' class='value'>"
            << formatNumber(v, f.decimals);
        if (i == 1 && std::isfinite(v) && std::isfinite(f.value) && f.value != 0)
            svg << " (\u00d7" << formatNumber(v / f.value, v / f.value < 10 ? 2 : 0) << ")";
        svg << "</text>\n";
    }
    if (std::isfinite(limit)) {
        const int lx = x + labelWidth + int(std::lround(plotWidth * limit / scale));
        svg << "<line x1='" << lx << "' y1='" << y + 20 << "' x2='" << lx << "' y2='" << y + 24 + 2 * barHeight + 10
            << "' class='target'/>\n<text x='" << lx << "' y='" << y + 24 + 2 * barHeight + 22
            << "' class='note' text-anchor='middle'>target " << escaped(f.target) << "</text>\n";
    }
}

} // namespace

bool writeFleetChart(const std::string &path, const std::vector<Figure> &figures, const std::string &caption)
{
    std::vector<const Figure *> shown;
    for (const Figure &f : figures)
        if (f.peer && f.id.rfind("fleet", 0) == 0)
            shown.push_back(&f);
    if (shown.empty())
        return false;
    const int rows = int(shown.size() + columns - 1) / columns;
    const int width = columns * panelWidth + 20;
    const int height = top + rows * panelHeight + 10;
    std::ostringstream svg;
    svg << "<svg xmlns='http://www.w3.org/2000/svg' width='" << width << "' height='" << height
        << "' viewBox='0 0 " << width << ' ' << height << "' font-family='DejaVu Sans, sans-serif'>\n"
        << "<style>.title{font-size:11px;font-weight:bold}.label{font-size:11px}.value{font-size:11px}"
           ".note{font-size:9px;fill:#9b2c2c}.target{stroke:#9b2c2c;stroke-width:1.5;stroke-dasharray:4 3}"
           ".caption{font-size:11px;fill:#4a5568}</style>\n"
        << "<rect width='100%' height='100%' fill='white'/>\n"
        << "<text x='10' y='22' font-size='15' font-weight='bold'>zentrel-serve and an asyncio server, same "
           "fleet, same client (\u00d7: asyncio / zentrel-serve)</text>\n"
        << "<text x='10' y='40' class='caption'>" << escaped(caption) << "</text>\n";
    for (std::size_t i = 0; i < shown.size(); ++i)
        panel(svg, *shown[i], 10 + int(i % columns) * panelWidth, top + int(i / columns) * panelHeight);
    svg << "</svg>\n";
    std::ofstream file(path, std::ios::trunc);
    file << svg.str();
    return bool(file);
}

} // namespace zentrel::bench
