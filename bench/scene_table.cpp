// The scene-file table: plain text in aligned columns, as the copy and paste
// table above it in scripts/bench.sh.
#include "bench/scene_table.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace bench {

namespace {

// Sizes in decimal megabytes and kilobytes, as file listings give them.
constexpr double MEGABYTE = 1e6;

std::string Format(const char *format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Three significant figures or more, without a point where it says nothing.
std::string Figure(double value) {
    return Format(value >= 100 ? "%.0f" : value >= 10 ? "%.1f" : "%.2f", value);
}

std::string SpreadText(const std::optional<Spread> &spread) {
    if (!spread) return "-";
    return Figure(spread->median) + " (" + Figure(spread->least) + "-" + Figure(spread->greatest) +
           ")";
}

std::string KeysText(std::size_t keys) {
    if (keys >= 1000000) return Format("%.1fM", static_cast<double>(keys) / 1e6);
    if (keys >= 1000) return Format("%.0fk", static_cast<double>(keys) / 1e3);
    return std::to_string(keys);
}

std::string PerFile(std::optional<std::uint64_t> bytes, std::uintmax_t fileBytes) {
    if (!bytes || fileBytes == 0) return "-";
    return Figure(static_cast<double>(*bytes) / static_cast<double>(fileBytes));
}

std::vector<std::string> Cells(const SceneRow &row, bool sameSceneAsAbove) {
    std::vector<std::string> cells;
    if (sameSceneAsAbove) {
        cells = {"", "", ""};
    } else {
        cells = {row.scene, KeysText(row.keys),
                 Figure(static_cast<double>(row.fileBytes) / MEGABYTE)};
    }
    std::vector<double> milliseconds;
    for (const double seconds : row.seconds) milliseconds.push_back(seconds * 1e3);
    cells.push_back(row.step);
    cells.push_back(SpreadText(Spread::Of(milliseconds)));
    cells.push_back(SpreadText(Spread::Of(row.toFloor)));
    cells.push_back(row.peakBytes ? Figure(static_cast<double>(*row.peakBytes) / MEGABYTE) : "-");
    cells.push_back(PerFile(row.peakBytes, row.fileBytes));
    const bool aboveStart = row.peakBytes && row.startBytes && *row.peakBytes >= *row.startBytes;
    cells.push_back(aboveStart ? PerFile(*row.peakBytes - *row.startBytes, row.fileBytes) : "-");
    cells.push_back(row.pictureBytes ? Figure(static_cast<double>(*row.pictureBytes) / 1e3) : "-");
    return cells;
}

}  // namespace

std::optional<Spread> Spread::Of(std::span<const double> values) {
    if (values.empty()) return std::nullopt;
    std::vector<double> sorted(values.begin(), values.end());
    std::sort(sorted.begin(), sorted.end());
    const std::size_t middle = sorted.size() / 2;
    const double median =
        sorted.size() % 2 == 1 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2.0;
    return Spread{median, sorted.front(), sorted.back()};
}

std::vector<double> RatiosByRound(std::span<const std::optional<double>> step,
                                  std::span<const std::optional<double>> floor) {
    std::vector<double> ratios;
    for (std::size_t round = 0; round < std::min(step.size(), floor.size()); ++round)
        if (step[round] && floor[round] && *floor[round] > 0)
            ratios.push_back(*step[round] / *floor[round]);
    return ratios;
}

void PrintSceneTable(std::ostream &out, std::span<const SceneRow> rows,
                     std::span<const std::string> notes) {
    std::vector<std::vector<std::string>> table = {
        {"scene files", "keys", "file MB", "step", "CPU ms: median (min-max)",
         "/ floor: median (min-max)", "peak MB", "peak/file", "(peak-start)/file", "picture KB"}};
    for (std::size_t i = 0; i < rows.size(); ++i)
        table.push_back(Cells(rows[i], i > 0 && rows[i].scene == rows[i - 1].scene &&
                                           rows[i].keys == rows[i - 1].keys));
    std::vector<std::size_t> widths(table.front().size(), 0);
    for (const auto &line : table)
        for (std::size_t c = 0; c < line.size(); ++c)
            widths[c] = std::max(widths[c], line[c].size());
    // Words to the left, numbers to the right.
    const auto isText = [](std::size_t column) { return column == 0 || column == 3; };
    const auto print = [&](const std::vector<std::string> &line) {
        std::string text;
        for (std::size_t c = 0; c < line.size(); ++c) {
            const std::string pad(widths[c] - line[c].size(), ' ');
            text += (c == 0 ? "" : "  ") + (isText(c) ? line[c] + pad : pad + line[c]);
        }
        while (!text.empty() && text.back() == ' ') text.pop_back();
        out << text << '\n';
    };
    print(table.front());
    std::vector<std::string> rule;
    for (const std::size_t width : widths) rule.emplace_back(width, '-');
    print(rule);
    for (std::size_t i = 1; i < table.size(); ++i) print(table[i]);
    for (const std::string &note : notes) out << note << '\n';
}

}  // namespace bench
