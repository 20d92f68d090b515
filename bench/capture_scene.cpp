// Capture-like scenes: each channel is a sum of a few slow sines around a
// rest value, plus a little noise, drawn from one seeded generator in file
// order, so the bytes depend on the shape and the seed alone.
#include "bench/capture_scene.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>

namespace bench {

namespace {

constexpr int CHANNELS_PER_JOINT = 9;
constexpr std::size_t HARMONICS = 3;
constexpr double TWO_PI = 6.283185307179586;
// Layout numbers an object's id from 0x10000000 on.
constexpr unsigned FIRST_OBJECT_ID = 0x10000000u;

// Uniform in [0, 1) from the generator's top 53 bits. std::mt19937_64 gives
// the same numbers everywhere; the standard distributions need not.
double Unit(std::mt19937_64 &random) {
    return static_cast<double>(random() >> 11) * 0x1.0p-53;
}

double Between(std::mt19937_64 &random, double low, double high) {
    return low + (high - low) * Unit(random);
}

struct ChannelMotion {
    double rest = 0.0;
    std::array<double, HARMONICS> amplitude{}, frequency{}, phase{};
    double noise = 0.0;  // the largest noise on a key
};

// Motion of a joint's channel by its kind: positions in metres, rotations in
// radians, scales around one; a performer's motion lives below a few hertz.
ChannelMotion DrawMotion(std::mt19937_64 &random, int channel) {
    const bool position = channel < 3, rotation = channel >= 3 && channel < 6;
    const double reach = position ? 0.5 : rotation ? 0.8 : 0.05;
    ChannelMotion motion;
    motion.rest = position ? Between(random, -1.0, 1.0) : rotation ? 0.0 : 1.0;
    for (std::size_t h = 0; h < HARMONICS; ++h) {
        motion.amplitude[h] = reach * Between(random, 0.1, 1.0) / static_cast<double>(h + 1);
        motion.frequency[h] = Between(random, 0.1, 2.0);
        motion.phase[h] = Between(random, 0.0, TWO_PI);
    }
    motion.noise = reach * 1e-3;
    return motion;
}

double ValueAt(const ChannelMotion &motion, double seconds, std::mt19937_64 &random) {
    double value = motion.rest;
    for (std::size_t h = 0; h < HARMONICS; ++h)
        value += motion.amplitude[h] *
                 std::sin(TWO_PI * motion.frequency[h] * seconds + motion.phase[h]);
    return value + motion.noise * Between(random, -1.0, 1.0);
}

// The shortest text that reads back to the same double.
void AppendNumber(std::string &text, double number) {
    std::array<char, 32> digits{};
    char *const end = std::to_chars(digits.data(), digits.data() + digits.size(), number).ptr;
    text.append(digits.data(), end);
}

// Text gathered for the sink, handed on in pieces of about this size: the
// benchmark starts the processes whose peak memory it measures after making
// its scenes, and a child's peak starts at its parent's, which must stay small.
constexpr std::size_t PIECE_BYTES = 64 * 1024;

class Pieces {
  public:
    explicit Pieces(const std::function<void(std::string_view)> &sink) : sink_(sink) {
        text_.reserve(PIECE_BYTES + 256);
    }
    Pieces(const Pieces &) = delete;
    Pieces &operator=(const Pieces &) = delete;

    std::string &Text() { return text_; }
    void FlushIfFull() {
        if (text_.size() >= PIECE_BYTES) Flush();
    }
    void Flush() {
        if (!text_.empty()) sink_(text_);
        text_.clear();
    }

  private:
    const std::function<void(std::string_view)> &sink_;
    std::string text_;
};

void AppendChannel(Pieces &pieces, const CaptureShape &shape, int channel,
                   std::mt19937_64 &random) {
    const ChannelMotion motion = DrawMotion(random, channel);
    std::string &text = pieces.Text();
    text += "Channel " + std::to_string(channel) + "\n{ Envelope\n  " +
            std::to_string(shape.frames) + "\n";
    for (int frame = 0; frame < shape.frames; ++frame) {
        const double seconds = frame / CAPTURE_FRAMES_PER_SECOND;
        text += "  Key ";
        AppendNumber(text, ValueAt(motion, seconds, random));
        text += ' ';
        AppendNumber(text, seconds);
        // TCB keys with tension, continuity and bias at zero, as capture imports make them.
        text += " 0 0 0 0 0 0 0\n";
        pieces.FlushIfFull();
    }
    text += "  Behaviors 1 1\n}\n";
}

}  // namespace

std::size_t CaptureShape::Keys() const {
    return static_cast<std::size_t>(joints) * CHANNELS_PER_JOINT * static_cast<std::size_t>(frames);
}

std::string CaptureShape::Name() const {
    return std::to_string(joints) + " x " + std::to_string(frames);
}

std::string JointName(int joint, int joints) {
    const std::size_t width = std::max<std::size_t>(3, std::to_string(joints - 1).size());
    std::string number = std::to_string(joint);
    return "Joint" + std::string(width > number.size() ? width - number.size() : 0, '0') + number;
}

void WriteCaptureScene(const CaptureShape &shape,
                       const std::function<void(std::string_view)> &sink) {
    std::mt19937_64 random(shape.seed);
    Pieces pieces(sink);
    pieces.Text() += "LWSC\n5\n\nFirstFrame 0\nLastFrame " + std::to_string(shape.frames - 1) +
                     "\nFramesPerSecond 30\n";
    for (int joint = 0; joint < shape.joints; ++joint) {
        std::array<char, 16> id{};
        std::snprintf(id.data(), id.size(), "%X", FIRST_OBJECT_ID + static_cast<unsigned>(joint));
        pieces.Text() += "\nAddNullObject " + std::string(id.data()) + " " +
                         JointName(joint, shape.joints) + "\nObjectMotion\nNumChannels 9\n";
        for (int channel = 0; channel < CHANNELS_PER_JOINT; ++channel)
            AppendChannel(pieces, shape, channel, random);
    }
    pieces.Flush();
}

// Whether the file holds exactly the scene's text, compared piece by piece
// as the generator makes it, so that a file is reused only when the
// generator would write it again byte for byte.
bool FileHoldsCaptureScene(const std::filesystem::path &path, const CaptureShape &shape) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    bool same = true;
    std::string read;
    WriteCaptureScene(shape, [&](std::string_view piece) {
        if (!same) return;
        read.resize(piece.size());
        file.read(read.data(), static_cast<std::streamsize>(piece.size()));
        same = static_cast<std::size_t>(file.gcount()) == piece.size() && read == piece;
    });
    return same && file.peek() == std::char_traits<char>::eof();
}

// Written beside the path and renamed over it, so that a run stopped midway
// leaves no half scene to be taken for a whole one.
void WriteCaptureSceneFile(const std::filesystem::path &path, const CaptureShape &shape) {
    const std::filesystem::path partial = std::filesystem::path(path).concat(".partial");
    {
        std::ofstream file(partial, std::ios::binary | std::ios::trunc);
        WriteCaptureScene(shape, [&file](std::string_view piece) {
            file.write(piece.data(), static_cast<std::streamsize>(piece.size()));
        });
        file.close();
        if (!file) throw std::runtime_error("cannot write " + partial.string());
    }
    std::filesystem::rename(partial, path);
}

std::string CaptureSceneText(const CaptureShape &shape) {
    std::string text;
    WriteCaptureScene(shape, [&text](std::string_view piece) { text += piece; });
    return text;
}

}  // namespace bench
