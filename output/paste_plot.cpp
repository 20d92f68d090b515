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
#include <mutex>
#include <stdexcept>
#include <string_view>

#include "output/replace_file.h"
#include "scenefile/scene_file.h"

namespace apps {

namespace fs = std::filesystem;

namespace {

// The raw slots start at the shape's tag.
constexpr std::size_t SHAPE_SLOT = host::LWKEY_SHAPE - host::LWKEY_SHAPE;

std::int32_t ShapeOf(const standin::KeyState &key) {
    return standin::ShapeOfSlot(key.parameters[SHAPE_SLOT]);
}

}  // namespace

// ---------------------------------------------------------------------------
// The snapshot

PasteSnapshot::PasteSnapshot(const standin::Scene &scene, std::vector<host::ItemId> items)
    : framesPerSecond_(scene.FramesPerSecond()) {
    items_.reserve(items.size());
    for (host::ItemId item : items) {
        Item &taken = items_.emplace_back(Item{item, {}});
        for (const standin::ChannelState &channel : scene.Channels(item))
            taken.channels.push_back(Channel{channel.id, KeysOf(scene, channel.envelope)});
        // By identity, so that finding a channel again costs a search, not a scan.
        std::ranges::sort(taken.channels, std::less<>(), &Channel::id);
    }
}

std::vector<PasteSnapshot::Key> PasteSnapshot::KeysOf(const standin::Scene &scene,
                                                      host::EnvelopeId envelope) {
    std::vector<Key> keys;
    if (envelope == nullptr) return keys;
    keys.reserve(scene.KeyCount(envelope));
    for (const standin::KeyState &key : scene.Keys(envelope))
        keys.push_back(Key{key.time, key.value, ShapeOf(key)});
    return keys;
}

std::vector<PlottedChannel> PasteSnapshot::ChangedChannels(const standin::Scene &scene) const {
    // Bit for bit: a key the paste did not touch is the very same key.
    const auto sameKey = [](const Key &a, const Key &b) {
        return std::bit_cast<std::uint64_t>(a.time) == std::bit_cast<std::uint64_t>(b.time) &&
               std::bit_cast<std::uint64_t>(a.value) == std::bit_cast<std::uint64_t>(b.value) &&
               a.shape == b.shape;
    };
    const auto plotKeys = [](const std::vector<Key> &keys, double framesPerSecond) {
        std::vector<PlotKey> plotted;
        plotted.reserve(keys.size());
        for (const Key &key : keys)
            plotted.push_back(PlotKey{key.time * framesPerSecond, key.value,
                                      key.shape == standin::SCENE_SHAPE_STEPPED});
        return plotted;
    };

    std::vector<PlottedChannel> changed;
    for (const Item &item : items_) {
        const std::string itemName = scene.ItemName(item.id);
        for (const standin::ChannelState &channel : scene.Channels(item.id)) {
            const std::vector<Key> now = KeysOf(scene, channel.envelope);
            const auto then =
                std::ranges::lower_bound(item.channels, channel.id, std::less<>(), &Channel::id);
            const bool existed = then != item.channels.end() && then->id == channel.id;
            if (existed &&
                std::equal(then->keys.begin(), then->keys.end(), now.begin(), now.end(), sameKey))
                continue;
            PlottedChannel &plotted = changed.emplace_back();
            plotted.item = itemName;
            plotted.channel = channel.name;
            if (existed) plotted.before = plotKeys(then->keys, framesPerSecond_);
            plotted.after = plotKeys(now, scene.FramesPerSecond());
        }
    }
    return changed;
}

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
// Inside a panel, around its plot box: tick labels, axis labels, its title.
constexpr double MARGIN_LEFT = 78.0;
constexpr double MARGIN_RIGHT = 24.0;
constexpr double MARGIN_TOP = 40.0;
constexpr double MARGIN_BOTTOM = 52.0;

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
        for (std::size_t k = 1; valid && k < length; ++k)
            valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
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
};

struct Points {
    std::vector<PLFLT> frames, values;

    void Add(double frame, double value) {
        frames.push_back(frame);
        values.push_back(value);
    }
    PLINT Count() const { return static_cast<PLINT>(frames.size()); }
};

// A channel's keys as markers, joined by straight segments from key to key;
// after a stepped key its value holds up to the next key's frame. Keys that
// are not finite numbers have no place on the axes and are left out.
void DrawKeys(const std::vector<PlotKey> &keys, Colour colour, double lineWidth, const char *marker,
              double markerScale) {
    Points markers, line;
    const PlotKey *previous = nullptr;
    for (const PlotKey &key : keys) {
        if (!std::isfinite(key.frame) || !std::isfinite(key.value)) continue;
        if (previous != nullptr && previous->stepped) line.Add(key.frame, previous->value);
        line.Add(key.frame, key.value);
        markers.Add(key.frame, key.value);
        previous = &key;
    }
    if (markers.Count() == 0) return;
    plcol0(colour);
    plwidth(lineWidth);
    plline(line.Count(), line.frames.data(), line.values.data());
    plschr(TEXT_HEIGHT_MM, markerScale);
    plstring(markers.Count(), markers.frames.data(), markers.values.data(), marker);
}

// Sets the viewport to a rectangle given in page units from the page's top left.
void Viewport(double pageWidth, double pageHeight, double left, double top, double right,
              double bottom) {
    plvpor(left / pageWidth, right / pageWidth, 1.0 - bottom / pageHeight, 1.0 - top / pageHeight);
}

void DrawHeader(double pageWidth, double pageHeight, double windowFirst, double windowLast,
                const std::string &title) {
    Viewport(pageWidth, pageHeight, 0.0, 0.0, pageWidth, TITLE_HEIGHT);
    plwind(0.0, 1.0, 0.0, 1.0);
    plcol0(INK);
    plschr(TEXT_HEIGHT_MM, 1.6);
    plmtex("t", -1.6, 0.5, 0.5, PlotText(title).c_str());

    Viewport(pageWidth, pageHeight, 0.0, TITLE_HEIGHT, pageWidth, HEADER_HEIGHT);
    plwind(0.0, 1.0, 0.0, 1.0);
    const std::string texts[] = {
        "keys before the paste",
        "keys after the paste",
        "the pasted window: frames " + FrameText(windowFirst) + " to " + FrameText(windowLast),
        "keys are joined by straight segments; a stepped key holds its value until the next key",
    };
    const char *textPointers[] = {texts[0].c_str(), texts[1].c_str(), texts[2].c_str(),
                                  texts[3].c_str()};
    const PLINT options[] = {PL_LEGEND_LINE | PL_LEGEND_SYMBOL, PL_LEGEND_LINE | PL_LEGEND_SYMBOL,
                             PL_LEGEND_COLOR_BOX, PL_LEGEND_NONE};
    const PLINT textColours[] = {INK, INK, INK, INK};
    const PLINT boxColours[] = {0, 0, WINDOW_FILL, 0};
    const PLINT boxPatterns[] = {0, 0, 0, 0};
    const PLFLT boxScales[] = {1.0, 1.0, 1.0, 1.0};
    const PLFLT boxLineWidths[] = {1.0, 1.0, 1.0, 1.0};
    const PLINT lineColours[] = {BEFORE, AFTER, 0, 0};
    const PLINT lineStyles[] = {1, 1, 1, 1};
    const PLFLT lineWidths[] = {1.2, 1.6, 1.0, 1.0};
    const PLINT symbolColours[] = {BEFORE, AFTER, 0, 0};
    const PLFLT symbolScales[] = {BEFORE_MARKER_SCALE, AFTER_MARKER_SCALE, 1.0, 1.0};
    const PLINT symbolCounts[] = {3, 3, 0, 0};
    const char *symbols[] = {BEFORE_MARKER, AFTER_MARKER, "", ""};
    PLFLT legendWidth = 0.0, legendHeight = 0.0;
    plschr(TEXT_HEIGHT_MM, 1.0);
    pllegend(&legendWidth, &legendHeight, 0,
             PL_POSITION_VIEWPORT | PL_POSITION_INSIDE | PL_POSITION_TOP | PL_POSITION_LEFT,
             MARGIN_LEFT / pageWidth, 0.0, 60.0 / pageWidth, BACKGROUND, INK, 1, 4, 1, 4, options,
             1.0, 1.0, 2.0, 0.0, textColours, textPointers, boxColours, boxPatterns, boxScales,
             boxLineWidths, lineColours, lineStyles, lineWidths, symbolColours, symbolScales,
             symbolCounts, symbols);
}

void DrawPanel(const PlottedChannel &channel, double windowFirst, double windowLast) {
    Range frames, values;
    frames.Include(windowFirst);
    frames.Include(windowLast);
    for (const auto *keys : {&channel.before, &channel.after})
        for (const PlotKey &key : *keys) {
            frames.Include(key.frame);
            values.Include(key.value);
        }
    const Range x = frames.Padded(0.04);
    const Range y = values.Padded(0.08);
    plwind(x.low, x.high, y.low, y.high);

    // The window under everything else, its edges over the grid, so that it
    // shows even when it is a single frame wide.
    const PLFLT windowFrames[] = {windowFirst, windowLast, windowLast, windowFirst};
    const PLFLT windowValues[] = {y.low, y.low, y.high, y.high};
    plcol0(WINDOW_FILL);
    plfill(4, windowFrames, windowValues);
    plcol0(GRID);
    plwidth(1.0);
    plbox("g", 0.0, 0, "g", 0.0, 0);
    plcol0(WINDOW_EDGE);
    for (double edge : {windowFirst, windowLast}) pljoin(edge, y.low, edge, y.high);

    plcol0(INK);
    plschr(TEXT_HEIGHT_MM, 0.9);
    plbox("bcnst", 0.0, 0, "bcnstv", 0.0, 0);

    DrawKeys(channel.before, BEFORE, 1.2, BEFORE_MARKER, BEFORE_MARKER_SCALE);
    DrawKeys(channel.after, AFTER, 1.6, AFTER_MARKER, AFTER_MARKER_SCALE);

    plcol0(INK);
    plschr(TEXT_HEIGHT_MM, 1.0);
    plmtex("b", 3.0, 0.5, 0.5, "frame");
    plmtex("l", 6.0, 0.5, 0.5, "value");
    plschr(TEXT_HEIGHT_MM, 1.15);
    plmtex("t", 1.0, 0.5, 0.5, PlotText(channel.item + " — " + channel.channel).c_str());
}

void DrawPage(std::span<const PlottedChannel> channels, double windowFirst, double windowLast,
              const std::string &title) {
    const int count = static_cast<int>(channels.size());
    const int columns = std::clamp(count, 1, MAX_COLUMNS);
    const int rows = std::max(1, (count + columns - 1) / columns);
    const double pageWidth = std::max(columns * PANEL_WIDTH, MIN_PAGE_WIDTH);
    const double panelWidth = pageWidth / columns;
    const double pageHeight = HEADER_HEIGHT + rows * PANEL_HEIGHT;

    plspage(0.0, 0.0, static_cast<PLINT>(pageWidth), static_cast<PLINT>(pageHeight), 0, 0);
    plscolbg(255, 255, 255);
    plinit();
    SetColours();
    pladv(0);
    DrawHeader(pageWidth, pageHeight, windowFirst, windowLast, title);

    if (channels.empty()) {
        Viewport(pageWidth, pageHeight, 0.0, HEADER_HEIGHT, pageWidth, pageHeight);
        plwind(0.0, 1.0, 0.0, 1.0);
        plcol0(INK);
        plschr(TEXT_HEIGHT_MM, 1.2);
        plptex(0.5, 0.5, 1.0, 0.0, 0.5, "The paste changed no channel of these items.");
        return;
    }
    for (int i = 0; i < count; ++i) {
        const double left = (i % columns) * panelWidth;
        const double top = HEADER_HEIGHT + (i / columns) * PANEL_HEIGHT;
        Viewport(pageWidth, pageHeight, left + MARGIN_LEFT, top + MARGIN_TOP,
                 left + panelWidth - MARGIN_RIGHT, top + PANEL_HEIGHT - MARGIN_BOTTOM);
        DrawPanel(channels[static_cast<std::size_t>(i)], windowFirst, windowLast);
    }
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

void DrawPastePlot(const ReplacementFile &svg, std::span<const PlottedChannel> channels,
                   double windowFirstFrame, double windowLastFrame, const std::string &title) {
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
            DrawPage(channels, windowFirstFrame, windowLastFrame, title);
        }
        if (!errors.empty())
            throw std::runtime_error("PLplot could not draw " + svg.Target().string() + ": " +
                                     errors);
    }
    if (!EndsWithSvgClose(svg.Path()))
        throw std::runtime_error("the plot for " + svg.Target().string() +
                                 " was written incomplete (is the disk full?)");
}

void WritePastePlot(const fs::path &svg, std::span<const PlottedChannel> channels,
                    double windowFirstFrame, double windowLastFrame, const std::string &title) {
    ReplacementFile temporary(svg);
    DrawPastePlot(temporary, channels, windowFirstFrame, windowLastFrame, title);
    temporary.Replace();
}

}  // namespace apps
