// output/: what the programs write: the picture of a paste, files replaced whole.
//
// A picture of what a paste did: for each channel of the target items that the
// paste changed or created, its keys before and after against frames, with the
// pasted frames shaded. Shared by the command-line programs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "host/host_api.h"
#include "output/paste_snapshot.h"
#include "output/replace_file.h"
#include "standin/scene.h"

namespace apps {

// Draws the channels on one SVG page titled `title`, with the frames
// windowFirstFrame to windowLastFrame shaded as the pasted window, into `svg`,
// which the caller puts in place. Up to PANEL_PAGE_MAX_CHANNELS channels get a
// panel each, up to three a row; more are drawn as a grid, one row per item and
// one column per channel name. A page draws at most PAGE_MAX_CHANNELS channels,
// the first ones given, and says how many it left out. Where a channel's keys
// lie too close to tell apart they are drawn as one line without markers.
//
// Returns the indices into `channels` of those left out, in order (empty when
// every channel is drawn), e.g. for a caller to name them:
//     for (std::size_t i : DrawPastePlot(...)) err << channels[i].item << ...;
// Throws std::runtime_error, saying what failed, when it cannot draw.
// `progress`, when given, hears of every channel drawn: how many of how many.
using PlotProgress = std::function<void(std::size_t drawn, std::size_t total)>;
std::vector<std::size_t> DrawPastePlot(const ReplacementFile &svg,
                                       std::span<const PlottedChannel> channels,
                                       double windowFirstFrame, double windowLastFrame,
                                       const std::string &title, const PlotProgress &progress = {});

// The same picture, put in place of the file at `svg` only once it is complete.
std::vector<std::size_t> WritePastePlot(const std::filesystem::path &svg,
                                        std::span<const PlottedChannel> channels,
                                        double windowFirstFrame, double windowLastFrame,
                                        const std::string &title);

inline constexpr std::size_t PANEL_PAGE_MAX_CHANNELS = 18;
inline constexpr std::size_t PAGE_MAX_CHANNELS = 108;

// A vertex of a channel's line, in frames and values.
struct LinePoint {
    double frame = 0.0;
    double value = 0.0;
    bool operator==(const LinePoint &) const = default;
};

// A line, in frame order, reduced to what a device can show when it draws
// `framesPerColumn` frames in one column, counted from `firstFrame`: of the
// points in each column, the first, the lowest, the highest and the last, in
// their order and each once. Every column keeps its extremes, so no peak is
// lost, and joins its neighbours where the whole line does.
std::vector<LinePoint> ThinLine(std::span<const LinePoint> line, double firstFrame,
                                double framesPerColumn);

}  // namespace apps
