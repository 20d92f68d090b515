#include "output/paste_plot.h"

#include <plplot/plplot.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <numeric>
#include <stdexcept>
#include <string_view>

#include "output/replace_file.h"
#include "scenefile/scene_file.h"

namespace apps {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// The picture

std::vector<LinePoint> ThinLine(std::span<const LinePoint> line, double firstFrame,
                                double framesPerColumn) {
    if (!(framesPerColumn > 0.0) || !std::isfinite(framesPerColumn))
        return {line.begin(), line.end()};
    const auto columnOf = [&](const LinePoint &point) {
        return std::floor((point.frame - firstFrame) / framesPerColumn);
    };
    std::vector<LinePoint> thinned;
    for (std::size_t first = 0; first < line.size();) {
        const double column = columnOf(line[first]);
        std::size_t last = first, lowest = first, highest = first;
        while (last + 1 < line.size() && columnOf(line[last + 1]) == column) {
            ++last;
            if (line[last].value < line[lowest].value) lowest = last;
            if (line[last].value > line[highest].value) highest = last;
        }
        std::array<std::size_t, 4> kept = {first, lowest, highest, last};
        std::sort(kept.begin(), kept.end());
        const auto keptEnd = std::unique(kept.begin(), kept.end());
        for (auto index = kept.begin(); index != keptEnd; ++index) thinned.push_back(line[*index]);
        first = last + 1;
    }
    return thinned;
}

namespace {

// The page, in the SVG's units (points): panels of a fixed size, up to three a
// row, under a header holding the title and the legend. With fewer than three
// panels they widen to fill a page two panels wide, room the legend needs.
constexpr int MAX_COLUMNS = 3;
constexpr double PANEL_WIDTH = 460.0;
constexpr double PANEL_HEIGHT = 320.0;
constexpr double MIN_PAGE_WIDTH = 2 * PANEL_WIDTH;
constexpr double HEADER_HEIGHT = 140.0;
constexpr double TITLE_HEIGHT = 40.0;
// Each note the legend adds to its four rows, below them.
constexpr double LEGEND_ROW_HEIGHT = 20.0;
// Inside a panel, around its plot box: tick labels, axis labels, its title.
constexpr double MARGIN_LEFT = 78.0;
constexpr double MARGIN_RIGHT = 24.0;
constexpr double MARGIN_TOP = 40.0;
constexpr double MARGIN_BOTTOM = 52.0;

// The grid of many channels: a column of item names beside a cell per item and
// channel, under a row of channel names. Each cell is a plot box with its tick
// labels, with no title or axis labels of its own, so that the row and column
// say what it is. Its size keeps a page of PAGE_MAX_CHANNELS lines of thinned
// keys within about 2 MB.
constexpr double GRID_PLOT_WIDTH = 130.0;
constexpr double GRID_PLOT_HEIGHT = 80.0;
constexpr double GRID_MARGIN_LEFT = 50.0;
constexpr double GRID_MARGIN_RIGHT = 16.0;
constexpr double GRID_MARGIN_TOP = 10.0;
constexpr double GRID_MARGIN_BOTTOM = 24.0;
constexpr double GRID_CELL_WIDTH = GRID_MARGIN_LEFT + GRID_PLOT_WIDTH + GRID_MARGIN_RIGHT;
constexpr double GRID_CELL_HEIGHT = GRID_MARGIN_TOP + GRID_PLOT_HEIGHT + GRID_MARGIN_BOTTOM;
constexpr double GRID_COLUMN_HEADER_HEIGHT = 26.0;
constexpr double GRID_FOOTER_HEIGHT = 20.0;
constexpr double GRID_LABEL_PADDING = 12.0;
constexpr double GRID_MIN_LABEL_WIDTH = 60.0;
constexpr double GRID_MAX_LABEL_WIDTH = 220.0;
constexpr double GRID_TICK_SCALE = 0.85;
// The width of a character of the page's font at scale 1, about; a wide (East
// Asian) character takes two.
constexpr double CHARACTER_WIDTH = 6.6;

// Keys closer than this many units along the frames cannot be told apart: a
// list with more keys than its plot box holds this far apart is drawn as one
// thinned line without markers.
constexpr double MIN_MARKER_SPACING = 3.0;
// A marker is a text element of its own, some 600 bytes of SVG. The lists
// with the fewest keys for their width keep their markers until the page
// holds this many.
constexpr std::size_t PAGE_MAX_MARKERS = 1200;

// PLplot's svg device sizes its text to the page unless told otherwise; this
// keeps it the same on every page, about 11 units high at scale 1. Markers
// are text too, and scale with it.
constexpr double TEXT_HEIGHT_MM = 3.1;

// Entries of PLplot's colour map 0 that the picture sets for itself.
enum Colour : PLINT { BACKGROUND = 0, INK, BEFORE, AFTER, WINDOW_FILL, WINDOW_EDGE, GRID };

constexpr const char *BEFORE_MARKER = "○";
constexpr const char *AFTER_MARKER = "●";
constexpr double BEFORE_MARKER_SCALE = 1.5;
constexpr double AFTER_MARKER_SCALE = 0.9;

void SetColours() {
    plscol0(INK, 40, 40, 40);
    plscol0(BEFORE, 150, 150, 150);
    plscol0(AFTER, 31, 106, 200);
    plscol0(WINDOW_FILL, 255, 236, 186);
    plscol0(WINDOW_EDGE, 225, 165, 50);
    plscol0(GRID, 228, 228, 228);
}

bool IsContinuationByte(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// Text as PLplot is to show it: '#' starts PLplot's escape sequences, so it
// is doubled, and bytes that are not UTF-8 become U+FFFD rather than stopping
// the text.
std::string PlotText(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80           ? 1
                                   : (lead >> 5) == 0x06 ? 2
                                   : (lead >> 4) == 0x0E ? 3
                                   : (lead >> 3) == 0x1E ? 4
                                                         : 0;
        bool valid = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) valid = IsContinuationByte(text[i + k]);
        if (!valid) {
            shown += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        if (lead == '#') shown += '#';
        shown.append(text.substr(i, length));
        i += length;
    }
    return shown;
}

// About how wide UTF-8 text is drawn at scale 1, in page units: characters of
// three bytes and more are mostly East Asian, twice as wide.
double TextWidth(std::string_view text) {
    double width = 0.0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (IsContinuationByte(text[i])) continue;
        width +=
            static_cast<unsigned char>(text[i]) >= 0xE0 ? 2 * CHARACTER_WIDTH : CHARACTER_WIDTH;
    }
    return width;
}

// Text cut short, with an ellipsis, to about `width` units at scale 1, so
// that a long name does not run into its neighbour.
std::string Fitted(std::string_view text, double width) {
    if (TextWidth(text) <= width) return std::string(text);
    std::size_t end = 0;
    double used = CHARACTER_WIDTH;  // the ellipsis
    while (end < text.size()) {
        std::size_t next = end + 1;
        while (next < text.size() && IsContinuationByte(text[next])) ++next;
        used += TextWidth(text.substr(end, next - end));
        if (used > width) break;
        end = next;
    }
    return std::string(text.substr(0, end)) + "…";
}

std::string FrameText(double frame) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", frame);
    return text;
}

struct Range {
    double low = std::numeric_limits<double>::infinity();
    double high = -std::numeric_limits<double>::infinity();

    void Include(double value) {
        if (!std::isfinite(value)) return;
        low = std::min(low, value);
        high = std::max(high, value);
    }
    // The range widened by `fraction` of its extent on each side, so that
    // markers at its ends are not cut; a single value is centred in an extent
    // of its own.
    Range Padded(double fraction) const {
        if (low > high) return Range{-1.0, 1.0};
        if (low == high) {
            const double half = std::max(0.5, std::fabs(low) * 0.05);
            return Range{low - half, high + half}.Padded(fraction);
        }
        const double pad = fraction * (high - low);
        return Range{low - pad, high + pad};
    }
    bool operator==(const Range &) const = default;
};

struct Points {
    std::vector<PLFLT> frames, values;

    void Add(double frame, double value) {
        frames.push_back(frame);
        values.push_back(value);
    }
    PLINT Count() const { return static_cast<PLINT>(frames.size()); }
};

bool IsDrawable(const PlotKey &key) {
    return std::isfinite(key.frame) && std::isfinite(key.value);
}

// A rectangle in page units, from the top left of the page's body (under
// the header).
struct Box {
    double left = 0.0, top = 0.0, right = 0.0, bottom = 0.0;
    double Width() const { return right - left; }
};

// A channel as the page draws it: its plot box, its axes, and whether its
// keys before and after are marked one by one.
struct ChannelDrawing {
    const PlottedChannel *channel = nullptr;
    Box box;
    Range frames, values;
    bool markBefore = true, markAfter = true;
    // In a grid: its cell, and whether it labels its frames, which a cell
    // leaves to the one under it when both have the same frames.
    std::size_t row = 0, column = 0;
    bool frameLabels = true;

    double FramesPerUnit() const { return (frames.high - frames.low) / box.Width(); }
};

// Text on the page's body: its reference point in page units from the body's
// top left, and where the text lies around it (0 left of it, 0.5 centred).
struct Label {
    std::string text;
    double x = 0.0, y = 0.0;
    double justification = 0.5;
};

struct Page {
    bool grid = false;
    double width = 0.0, bodyHeight = 0.0;
    std::vector<ChannelDrawing> drawings;
    std::vector<Label> labels;

    ChannelDrawing &Place(const PlottedChannel &channel, const Box &box) {
        ChannelDrawing &drawing = drawings.emplace_back();
        drawing.channel = &channel;
        drawing.box = box;
        return drawing;
    }
};

// Panels in rows of up to three, as few channels are best read.
Page PanelPage(std::span<const PlottedChannel> channels) {
    const int count = static_cast<int>(channels.size());
    const int columns = std::clamp(count, 1, MAX_COLUMNS);
    const int rows = std::max(1, (count + columns - 1) / columns);
    Page page;
    page.width = std::max(columns * PANEL_WIDTH, MIN_PAGE_WIDTH);
    page.bodyHeight = rows * PANEL_HEIGHT;
    const double panelWidth = page.width / columns;
    for (int i = 0; i < count; ++i) {
        const double left = (i % columns) * panelWidth;
        const double top = (i / columns) * PANEL_HEIGHT;
        page.Place(channels[static_cast<std::size_t>(i)],
                   Box{left + MARGIN_LEFT, top + MARGIN_TOP, left + panelWidth - MARGIN_RIGHT,
                       top + PANEL_HEIGHT - MARGIN_BOTTOM});
    }
    return page;
}

std::size_t MotionChannelRank(const std::string &name) {
    const auto &names = standin::MOTION_CHANNEL_NAMES;
    return static_cast<std::size_t>(std::find(names.begin(), names.end(), name) - names.begin());
}

// A grid row: an item's channels, as indices into the channels drawn.
struct GridRow {
    std::string item;
    std::vector<std::size_t> channels;
};

// The grid's columns: every channel name, each after the one an item has
// before it; the nine motion channels in their own order, whichever order a
// paste created them in, and any others after them.
std::vector<std::string> GridColumns(std::span<const PlottedChannel> channels,
                                     std::span<const GridRow> rows) {
    std::vector<std::string> columns;
    for (const GridRow &row : rows) {
        std::size_t next = 0;
        for (std::size_t index : row.channels) {
            const std::string &name = channels[index].channel;
            auto column = std::find(columns.begin(), columns.end(), name);
            if (column == columns.end())
                column = columns.insert(columns.begin() + static_cast<std::ptrdiff_t>(next), name);
            next = static_cast<std::size_t>(column - columns.begin()) + 1;
        }
    }
    std::stable_sort(columns.begin(), columns.end(), [](const auto &a, const auto &b) {
        return MotionChannelRank(a) < MotionChannelRank(b);
    });
    return columns;
}

// A row per item and a column per channel name, as many channels are best
// compared. Two items of one name get a row each.
Page GridPage(std::span<const PlottedChannel> channels) {
    std::vector<GridRow> rows;
    for (std::size_t i = 0; i < channels.size(); ++i) {
        const auto sameChannel = [&](std::size_t other) {
            return channels[other].channel == channels[i].channel;
        };
        if (rows.empty() || rows.back().item != channels[i].item ||
            std::any_of(rows.back().channels.begin(), rows.back().channels.end(), sameChannel))
            rows.push_back(GridRow{channels[i].item, {}});
        rows.back().channels.push_back(i);
    }
    const std::vector<std::string> columns = GridColumns(channels, rows);

    double labelWidth = GRID_MIN_LABEL_WIDTH;
    for (const GridRow &row : rows)
        labelWidth = std::max(labelWidth, TextWidth(row.item) + 2 * GRID_LABEL_PADDING);
    labelWidth = std::min(labelWidth, GRID_MAX_LABEL_WIDTH);

    Page page;
    page.grid = true;
    page.width = std::ceil(labelWidth + static_cast<double>(columns.size()) * GRID_CELL_WIDTH);
    const double rowsBottom =
        GRID_COLUMN_HEADER_HEIGHT + static_cast<double>(rows.size()) * GRID_CELL_HEIGHT;
    page.bodyHeight = std::ceil(rowsBottom + GRID_FOOTER_HEIGHT);
    const auto plotLeft = [&](std::size_t column) {
        return labelWidth + static_cast<double>(column) * GRID_CELL_WIDTH + GRID_MARGIN_LEFT;
    };
    for (std::size_t column = 0; column < columns.size(); ++column) {
        const double centre = plotLeft(column) + GRID_PLOT_WIDTH / 2;
        page.labels.push_back(Label{Fitted(columns[column], GRID_CELL_WIDTH - GRID_LABEL_PADDING),
                                    centre, GRID_COLUMN_HEADER_HEIGHT / 2});
        page.labels.push_back(Label{"frame", centre, rowsBottom + GRID_FOOTER_HEIGHT / 2});
    }
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const double top =
            GRID_COLUMN_HEADER_HEIGHT + static_cast<double>(r) * GRID_CELL_HEIGHT + GRID_MARGIN_TOP;
        page.labels.push_back(Label{Fitted(rows[r].item, labelWidth - 2 * GRID_LABEL_PADDING),
                                    GRID_LABEL_PADDING, top + GRID_PLOT_HEIGHT / 2, 0.0});
        for (std::size_t index : rows[r].channels) {
            const auto column = static_cast<std::size_t>(
                std::find(columns.begin(), columns.end(), channels[index].channel) -
                columns.begin());
            const double left = plotLeft(column);
            ChannelDrawing &drawing = page.Place(
                channels[index], Box{left, top, left + GRID_PLOT_WIDTH, top + GRID_PLOT_HEIGHT});
            drawing.row = r;
            drawing.column = column;
        }
    }
    return page;
}

// Each channel's axes: its keys and the pasted window, with room around them.
void FitAxes(ChannelDrawing &drawing, double windowFirst, double windowLast) {
    Range frames, values;
    frames.Include(windowFirst);
    frames.Include(windowLast);
    for (const auto *keys : {&drawing.channel->before, &drawing.channel->after})
        for (const PlotKey &key : *keys) {
            frames.Include(key.frame);
            values.Include(key.value);
        }
    drawing.frames = frames.Padded(0.04);
    drawing.values = values.Padded(0.08);
}

// A grid cell leaves its frame labels to the cell under it when that one has
// the same frames, as a motion capture's channels all do, so that the page
// does not repeat them row after row.
void ShareFrameLabels(std::span<ChannelDrawing> drawings) {
    std::map<std::pair<std::size_t, std::size_t>, const ChannelDrawing *> cells;
    for (const ChannelDrawing &drawing : drawings)
        cells.emplace(std::pair{drawing.row, drawing.column}, &drawing);
    for (ChannelDrawing &drawing : drawings) {
        const auto below = cells.find({drawing.row + 1, drawing.column});
        drawing.frameLabels = below == cells.end() || below->second->frames != drawing.frames;
    }
}

// Which lists of keys get a marker per key: those whose plot box holds their
// keys MIN_MARKER_SPACING apart, the sparsest first, while the page's markers
// stay within PAGE_MAX_MARKERS. Returns whether any list is a line alone.
bool ChooseMarkers(std::span<ChannelDrawing> drawings) {
    struct MarkedList {
        bool *marked;
        std::size_t keys;
        double crowding;  // above 1: closer than MIN_MARKER_SPACING
    };
    std::vector<MarkedList> lists;
    for (ChannelDrawing &drawing : drawings)
        for (auto [keys, marked] : {std::pair{&drawing.channel->before, &drawing.markBefore},
                                    std::pair{&drawing.channel->after, &drawing.markAfter}}) {
            const auto count =
                static_cast<std::size_t>(std::count_if(keys->begin(), keys->end(), IsDrawable));
            if (count == 0) continue;
            lists.push_back(
                MarkedList{marked, count,
                           static_cast<double>(count) * MIN_MARKER_SPACING / drawing.box.Width()});
        }
    std::stable_sort(lists.begin(), lists.end(), [](const MarkedList &a, const MarkedList &b) {
        return a.crowding < b.crowding;
    });
    std::size_t markers = 0;
    bool anyLine = false;
    for (const MarkedList &list : lists) {
        markers += list.keys;
        *list.marked = list.crowding <= 1.0 && markers <= PAGE_MAX_MARKERS;
        anyLine = anyLine || !*list.marked;
    }
    return anyLine;
}

// A channel's keys joined by straight segments from key to key; after a
// stepped key its value holds up to the next key's frame. Marked, each key
// gets a marker; otherwise the line is thinned to what the plot box shows,
// one column per page unit. Keys that are not finite numbers have no place on
// the axes and are left out.
void DrawKeys(const std::vector<PlotKey> &keys, const ChannelDrawing &drawing, bool marked,
              Colour colour, double lineWidth, const char *marker, double markerScale) {
    Points markers;
    std::vector<LinePoint> line;
    line.reserve(keys.size());
    const PlotKey *previous = nullptr;
    for (const PlotKey &key : keys) {
        if (!IsDrawable(key)) continue;
        if (previous != nullptr && previous->stepped)
            line.push_back(LinePoint{key.frame, previous->value});
        line.push_back(LinePoint{key.frame, key.value});
        if (marked) markers.Add(key.frame, key.value);
        previous = &key;
    }
    if (line.empty()) return;
    if (!marked) line = ThinLine(line, drawing.frames.low, drawing.FramesPerUnit());
    Points drawn;
    for (const LinePoint &point : line) drawn.Add(point.frame, point.value);
    plcol0(colour);
    plwidth(lineWidth);
    plline(drawn.Count(), drawn.frames.data(), drawn.values.data());
    if (!marked) return;
    plschr(TEXT_HEIGHT_MM, markerScale);
    plstring(markers.Count(), markers.frames.data(), markers.values.data(), marker);
}

// Sets the viewport to a rectangle given in page units from the page's top left.
void Viewport(double pageWidth, double pageHeight, double left, double top, double right,
              double bottom) {
    plvpor(left / pageWidth, right / pageWidth, 1.0 - bottom / pageHeight, 1.0 - top / pageHeight);
}

void DrawHeader(double pageWidth, double pageHeight, double headerHeight, double windowFirst,
                double windowLast, const std::string &title, std::span<const std::string> notes) {
    Viewport(pageWidth, pageHeight, 0.0, 0.0, pageWidth, TITLE_HEIGHT);
    plwind(0.0, 1.0, 0.0, 1.0);
    plcol0(INK);
    plschr(TEXT_HEIGHT_MM, 1.6);
    plmtex("t", -1.6, 0.5, 0.5, PlotText(title).c_str());

    Viewport(pageWidth, pageHeight, 0.0, TITLE_HEIGHT, pageWidth, headerHeight);
    plwind(0.0, 1.0, 0.0, 1.0);
    std::vector<std::string> texts = {
        "keys before the paste",
        "keys after the paste",
        "the pasted window: frames " + FrameText(windowFirst) + " to " + FrameText(windowLast),
        "keys are joined by straight segments; a stepped key holds its value until the next key",
    };
    texts.insert(texts.end(), notes.begin(), notes.end());
    const auto entries = static_cast<PLINT>(texts.size());
    const auto perEntry = [&](auto value) { return std::vector(texts.size(), value); };
    std::vector<const char *> textPointers;
    for (const std::string &text : texts) textPointers.push_back(text.c_str());
    std::vector<PLINT> options = perEntry(PLINT{PL_LEGEND_NONE});
    options[0] = options[1] = PL_LEGEND_LINE | PL_LEGEND_SYMBOL;
    options[2] = PL_LEGEND_COLOR_BOX;
    const std::vector<PLINT> textColours = perEntry(PLINT{INK});
    std::vector<PLINT> boxColours = perEntry(PLINT{0});
    boxColours[2] = WINDOW_FILL;
    const std::vector<PLINT> boxPatterns = perEntry(PLINT{0});
    const std::vector<PLFLT> boxScales = perEntry(PLFLT{1.0});
    const std::vector<PLFLT> boxLineWidths = perEntry(PLFLT{1.0});
    std::vector<PLINT> lineColours = perEntry(PLINT{0});
    lineColours[0] = BEFORE;
    lineColours[1] = AFTER;
    const std::vector<PLINT> lineStyles = perEntry(PLINT{1});
    std::vector<PLFLT> lineWidths = perEntry(PLFLT{1.0});
    lineWidths[0] = 1.2;
    lineWidths[1] = 1.6;
    const std::vector<PLINT> symbolColours = lineColours;
    std::vector<PLFLT> symbolScales = perEntry(PLFLT{1.0});
    symbolScales[0] = BEFORE_MARKER_SCALE;
    symbolScales[1] = AFTER_MARKER_SCALE;
    std::vector<PLINT> symbolCounts = perEntry(PLINT{0});
    symbolCounts[0] = symbolCounts[1] = 3;
    std::vector<const char *> symbols = perEntry("");
    symbols[0] = BEFORE_MARKER;
    symbols[1] = AFTER_MARKER;
    PLFLT legendWidth = 0.0, legendHeight = 0.0;
    plschr(TEXT_HEIGHT_MM, 1.0);
    pllegend(&legendWidth, &legendHeight, 0,
             PL_POSITION_VIEWPORT | PL_POSITION_INSIDE | PL_POSITION_TOP | PL_POSITION_LEFT,
             MARGIN_LEFT / pageWidth, 0.0, 60.0 / pageWidth, BACKGROUND, INK, 1, entries, 1,
             entries, options.data(), 1.0, 1.0, 2.0, 0.0, textColours.data(), textPointers.data(),
             boxColours.data(), boxPatterns.data(), boxScales.data(), boxLineWidths.data(),
             lineColours.data(), lineStyles.data(), lineWidths.data(), symbolColours.data(),
             symbolScales.data(), symbolCounts.data(), symbols.data());
}

// A tick step of 1, 2 or 5 times a power of ten that gives an axis as many
// labels as fit a small cell, `labels`, but two at least, so that they show
// its scale; 0 for an axis that has no extent.
double TickStep(const Range &range, int labels) {
    const double extent = range.high - range.low;
    if (!(extent > 0.0) || !std::isfinite(extent)) return 0.0;
    const auto count = [&](double step) {
        return std::floor(range.high / step) - std::ceil(range.low / step) + 1.0;
    };
    // From five times the extent's power of ten, which gives one label at
    // most, down to a hundredth of it, which gives more than a cell holds.
    const double magnitude = std::pow(10.0, std::floor(std::log10(extent)));
    double chosen = 0.0;
    for (double power : {1.0, 0.1, 0.01})
        for (double multiple : {5.0, 2.0, 1.0}) {
            const double step = multiple * power * magnitude;
            if (count(step) > labels) return chosen > 0.0 ? chosen : step;
            if (count(step) >= 2.0) chosen = step;
        }
    return chosen;
}

// The numbers along one edge of a grid cell, at the multiples of `step`,
// with as many decimals as the step needs. PLplot's own labels come with a
// tick mark each, which a page of many cells would hold thousands of.
void LabelEdge(const char *side, double displacement, double justification, const Range &range,
               double step) {
    if (!(step > 0.0)) return;
    const double first = std::ceil(range.low / step);
    const double last = std::floor(range.high / step);
    if (!(last - first < 10.0)) return;
    const int decimals = step >= 1.0 ? 0 : static_cast<int>(std::ceil(-std::log10(step)));
    for (double multiple = first; multiple <= last; ++multiple) {
        const double value = multiple * step;
        char text[32];
        if (std::fabs(value) < 1e6)
            std::snprintf(text, sizeof text, "%.*f", decimals, value == 0.0 ? 0.0 : value);
        else
            std::snprintf(text, sizeof text, "%g", value);
        plmtex(side, displacement, (value - range.low) / (range.high - range.low), justification,
               text);
    }
}

// A channel's plot box, in the viewport set for it: its window, grid, axes
// and keys; a panel adds its axis labels and its title, which a grid cell
// takes from its row and column.
void DrawChannel(const ChannelDrawing &drawing, double windowFirst, double windowLast,
                 bool inGrid) {
    const Range &x = drawing.frames;
    const Range &y = drawing.values;
    plwind(x.low, x.high, y.low, y.high);

    // The window under everything else, its edges over the grid, so that it
    // shows even when it is a single frame wide.
    const PLFLT windowFrames[] = {windowFirst, windowLast, windowLast, windowFirst};
    const PLFLT windowValues[] = {y.low, y.low, y.high, y.high};
    plcol0(WINDOW_FILL);
    plfill(4, windowFrames, windowValues);
    const double xStep = inGrid ? TickStep(x, 4) : 0.0;
    const double yStep = inGrid ? TickStep(y, 3) : 0.0;
    plcol0(GRID);
    plwidth(1.0);
    plbox("g", xStep, 0, "g", yStep, 0);
    plcol0(WINDOW_EDGE);
    for (double edge : {windowFirst, windowLast}) pljoin(edge, y.low, edge, y.high);

    plcol0(INK);
    plschr(TEXT_HEIGHT_MM, inGrid ? GRID_TICK_SCALE : 0.9);
    if (inGrid) {
        plbox("bc", 0.0, 0, "bc", 0.0, 0);
        if (drawing.frameLabels) LabelEdge("b", 1.5, 0.5, x, xStep);
        LabelEdge("lv", 0.6, 1.0, y, yStep);
    } else {
        plbox("bcnst", 0.0, 0, "bcnstv", 0.0, 0);
    }

    const PlottedChannel &channel = *drawing.channel;
    DrawKeys(channel.before, drawing, drawing.markBefore, BEFORE, 1.2, BEFORE_MARKER,
             BEFORE_MARKER_SCALE);
    DrawKeys(channel.after, drawing, drawing.markAfter, AFTER, 1.6, AFTER_MARKER,
             AFTER_MARKER_SCALE);
    if (inGrid) return;

    plcol0(INK);
    plschr(TEXT_HEIGHT_MM, 1.0);
    plmtex("b", 3.0, 0.5, 0.5, "frame");
    plmtex("l", 6.0, 0.5, 0.5, "value");
    plschr(TEXT_HEIGHT_MM, 1.15);
    plmtex("t", 1.0, 0.5, 0.5, PlotText(channel.item + " — " + channel.channel).c_str());
}

// How many of the channels a page draws: all of them, or the channels of as
// many whole items as PAGE_MAX_CHANNELS allows (the first item's first ones
// when not even its own fit).
std::size_t DrawnCount(std::span<const PlottedChannel> channels) {
    if (channels.size() <= PAGE_MAX_CHANNELS) return channels.size();
    std::size_t count = PAGE_MAX_CHANNELS;
    while (count > 0 && channels[count - 1].item == channels[count].item) --count;
    return count == 0 ? PAGE_MAX_CHANNELS : count;
}

std::vector<std::size_t> DrawPage(std::span<const PlottedChannel> channels, double windowFirst,
                                  double windowLast, const std::string &title,
                                  const PlotProgress &progress) {
    const std::span<const PlottedChannel> drawn = channels.first(DrawnCount(channels));
    Page page = drawn.size() <= PANEL_PAGE_MAX_CHANNELS ? PanelPage(drawn) : GridPage(drawn);
    for (ChannelDrawing &drawing : page.drawings) FitAxes(drawing, windowFirst, windowLast);
    if (page.grid) ShareFrameLabels(page.drawings);

    std::vector<std::string> notes;
    if (ChooseMarkers(page.drawings))
        notes.push_back(
            "where keys lie too close to tell apart: a line without markers, every peak kept");
    const std::size_t leftOut = channels.size() - drawn.size();
    if (leftOut > 0)
        notes.push_back(std::to_string(leftOut) + " more changed channel" +
                        (leftOut == 1 ? " is" : "s are") + " not drawn: a page draws at most " +
                        std::to_string(PAGE_MAX_CHANNELS));
    const double headerHeight =
        HEADER_HEIGHT + static_cast<double>(notes.size()) * LEGEND_ROW_HEIGHT;
    const double pageWidth = page.width;
    const double pageHeight = headerHeight + page.bodyHeight;

    plspage(0.0, 0.0, static_cast<PLINT>(pageWidth), static_cast<PLINT>(pageHeight), 0, 0);
    plscolbg(255, 255, 255);
    plinit();
    SetColours();
    pladv(0);
    DrawHeader(pageWidth, pageHeight, headerHeight, windowFirst, windowLast, title, notes);

    if (drawn.empty()) {
        Viewport(pageWidth, pageHeight, 0.0, headerHeight, pageWidth, pageHeight);
        plwind(0.0, 1.0, 0.0, 1.0);
        plcol0(INK);
        plschr(TEXT_HEIGHT_MM, 1.2);
        plptex(0.5, 0.5, 1.0, 0.0, 0.5, "The paste changed no channel of these items.");
    }
    for (const ChannelDrawing &drawing : page.drawings) {
        const Box &box = drawing.box;
        Viewport(pageWidth, pageHeight, box.left, headerHeight + box.top, box.right,
                 headerHeight + box.bottom);
        DrawChannel(drawing, windowFirst, windowLast, page.grid);
        if (progress)
            progress(static_cast<std::size_t>(&drawing - page.drawings.data()) + 1,
                     page.drawings.size());
    }
    if (!page.labels.empty()) {
        Viewport(pageWidth, pageHeight, 0.0, headerHeight, pageWidth, pageHeight);
        plwind(0.0, pageWidth, page.bodyHeight, 0.0);
        plcol0(INK);
        plschr(TEXT_HEIGHT_MM, 1.0);
        for (const Label &label : page.labels)
            plptex(label.x, label.y, 1.0, 0.0, label.justification, PlotText(label.text).c_str());
    }

    std::vector<std::size_t> leftOutIndices(leftOut);
    std::iota(leftOutIndices.begin(), leftOutIndices.end(), drawn.size());
    return leftOutIndices;
}

// PLplot keeps its state in globals, the current stream among them: one plot
// at a time.
std::mutex plotting;

// Where PLplot's error reports go while a stream of ours is current; PLplot
// calls CollectPlotError, which must not throw back into C.
std::string *plotErrors = nullptr;

void CollectPlotError(const char *message) noexcept {
    try {
        if (plotErrors == nullptr || message == nullptr) return;
        if (!plotErrors->empty()) *plotErrors += "; ";
        *plotErrors += message;
    } catch (...) {
        // Out of memory while noting an error: the plot is then failed by
        // what comes after, which reports it.
    }
}

// A PLplot stream of our own, current while the guard lives, so that a plot
// never inherits or leaves behind another's settings. Ending it closes its
// output file. PLplot's error reports go into `errors` meanwhile.
class PlotStream {
  public:
    explicit PlotStream(std::string &errors) {
        plgstrm(&previous_);
        plmkstrm(&stream_);
        if (stream_ < 0) throw std::runtime_error("PLplot has no free stream for the plot");
        plotErrors = &errors;
        plsabort(CollectPlotError);
    }
    ~PlotStream() {
        plsstrm(stream_);
        plend1();
        plsabort(nullptr);
        plotErrors = nullptr;
        plsstrm(previous_);
    }
    PlotStream(const PlotStream &) = delete;
    PlotStream &operator=(const PlotStream &) = delete;

  private:
    PLINT previous_ = 0;
    PLINT stream_ = -1;
};

// PLplot asks on standard input for another device when the one set is
// missing, so look first.
bool HasSvgDevice() {
    int count = 256;
    std::vector<const char *> menus(static_cast<std::size_t>(count)),
        names(static_cast<std::size_t>(count));
    const char **menuList = menus.data();
    const char **nameList = names.data();
    plgDevs(&menuList, &nameList, &count);
    for (int i = 0; i < count; ++i)
        if (names[static_cast<std::size_t>(i)] != nullptr &&
            std::strcmp(names[static_cast<std::size_t>(i)], "svg") == 0)
            return true;
    return false;
}

// PLplot does not report a failed write, such as a full disk; a complete SVG
// ends with its closing tag.
bool EndsWithSvgClose(const fs::path &file) {
    std::ifstream in(file, std::ios::binary);
    std::string tail(64, '\0');
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (!in || size <= 0) return false;
    const std::streamoff read = std::min<std::streamoff>(size, 64);
    in.seekg(size - read);
    in.read(tail.data(), read);
    tail.resize(static_cast<std::size_t>(in.gcount()));
    return tail.find("</svg>") != std::string::npos;
}

}  // namespace

std::vector<std::size_t> DrawPastePlot(const ReplacementFile &svg,
                                       std::span<const PlottedChannel> channels,
                                       double windowFirstFrame, double windowLastFrame,
                                       const std::string &title, const PlotProgress &progress) {
    std::vector<std::size_t> leftOut;
    // The file exists before PLplot starts, which ends the process when it
    // cannot open its output.
    {
        const std::lock_guard lock(plotting);
        if (!HasSvgDevice())
            throw std::runtime_error("this PLplot has no svg device, so no plot is written");
        std::string errors;
        {
            PlotStream stream(errors);
            plsdev("svg");
            plsfnam(svg.Path().c_str());
            leftOut = DrawPage(channels, windowFirstFrame, windowLastFrame, title, progress);
        }
        if (!errors.empty())
            throw std::runtime_error("PLplot could not draw " + svg.Target().string() + ": " +
                                     errors);
    }
    if (!EndsWithSvgClose(svg.Path()))
        throw std::runtime_error("the plot for " + svg.Target().string() +
                                 " was written incomplete (is the disk full?)");
    return leftOut;
}

std::vector<std::size_t> WritePastePlot(const fs::path &svg,
                                        std::span<const PlottedChannel> channels,
                                        double windowFirstFrame, double windowLastFrame,
                                        const std::string &title) {
    ReplacementFile temporary(svg);
    std::vector<std::size_t> leftOut =
        DrawPastePlot(temporary, channels, windowFirstFrame, windowLastFrame, title);
    temporary.Replace();
    return leftOut;
}

}  // namespace apps
