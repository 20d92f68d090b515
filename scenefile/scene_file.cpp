// Scene files: the reader keeps every line and remembers where each item's
// motion block lies and what its channels held when read; the writer gives
// back the lines of everything unchanged and writes the changed channels anew.
#include "scenefile/scene_file.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <system_error>
#include <utility>

namespace standin {

namespace {

constexpr int OLDEST_VERSION = 3;
constexpr int NEWEST_VERSION = 5;
constexpr int FIRST_FRAME_DEFAULT = 1;
constexpr int LAST_FRAME_DEFAULT = 60;
constexpr double FRAMES_PER_SECOND_DEFAULT = 30.0;
constexpr std::size_t KEY_FIELD_COUNT = 9;  // value, time, shape, six parameters
constexpr int FILE_PARAMETER_COUNT = 6;     // p1..p6: LWKEY_TENSION to LWKEY_PARAM_2
constexpr std::size_t PROBLEMS_SHOWN = 20;

// The host's channel type of each motion channel: distances, angles, scales.
constexpr int MotionChannelType(std::size_t index) {
    if (index < 3) return host::CHANNEL_TYPE_DISTANCE;
    if (index < 6) return host::CHANNEL_TYPE_ANGLE;
    return host::CHANNEL_TYPE_PERCENT;
}

std::optional<int> MotionChannelIndex(std::string_view name) {
    for (std::size_t i = 0; i < MOTION_CHANNEL_NAMES.size(); ++i)
        if (name == MOTION_CHANNEL_NAMES[i]) return static_cast<int>(i);
    return std::nullopt;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::vector<std::string_view> Tokens(std::string_view line) {
    std::vector<std::string_view> tokens;
    std::size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && IsBlank(line[at])) ++at;
        const std::size_t start = at;
        while (at < line.size() && !IsBlank(line[at])) ++at;
        if (at > start) tokens.push_back(line.substr(start, at - start));
    }
    return tokens;
}

std::string_view Indent(std::string_view line) {
    std::size_t at = 0;
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    return line.substr(0, at);
}

std::string_view TrimEnd(std::string_view text) {
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

// The rest of a line from a token on, as it stands (names and paths may hold blanks).
std::string_view RestFrom(std::string_view line, std::string_view token) {
    return TrimEnd(line.substr(static_cast<std::size_t>(token.data() - line.data())));
}

std::optional<int> ParseInt(std::string_view token) {
    if (!token.empty() && token.front() == '+') token.remove_prefix(1);
    int value = 0;
    const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value);
    if (error != std::errc() || end != token.data() + token.size()) return std::nullopt;
    return value;
}

// A finite number, in any text strtod would take except hexadecimal floats,
// infinities and NaNs, which no scene holds.
std::optional<double> ParseNumber(std::string_view token) {
    if (!token.empty() && token.front() == '+') token.remove_prefix(1);
    double value = 0.0;
    const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value);
    if (error != std::errc() || end != token.data() + token.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

bool IsHex(std::string_view token) {
    return !token.empty() &&
           std::all_of(token.begin(), token.end(), [](char c) { return std::isxdigit(c) != 0; });
}

// The shortest text that reads back to the same double.
std::string NumberText(double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

// An object's name: its file's base name without the extension, whichever
// separator the path was written with.
std::string ObjectName(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\:");
    if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
    const std::size_t dot = path.find_last_of('.');
    if (dot != std::string_view::npos && dot > 0) path = path.substr(0, dot);
    return std::string(path);
}

bool SameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool SameKeys(const std::vector<KeyState> &a, const std::vector<KeyState> &b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const KeyState &x, const KeyState &y) {
                          return SameBits(x.value, y.value) && SameBits(x.time, y.time) &&
                                 x.parameters == y.parameters;
                      });
}

host::KeySlot NumberSlot(double number) {
    host::KeySlot slot{};
    std::memcpy(slot.data(), &number, sizeof number);
    return slot;
}

double SlotNumber(const host::KeySlot &slot) {
    double number = 0.0;
    std::memcpy(&number, slot.data(), sizeof number);
    return number;
}

using Attributes = std::array<int, host::ENVELOPE_ATTRIBUTE_COUNT>;

Attributes AttributesOf(const Scene &scene, host::EnvelopeId envelope) {
    Attributes attributes{};
    for (int i = 0; i < host::ENVELOPE_ATTRIBUTE_COUNT; ++i)
        attributes[static_cast<std::size_t>(i)] = scene.Attribute(envelope, i);
    return attributes;
}

}  // namespace

host::KeySlot ShapeSlot(int shape) {
    const std::int32_t word = shape;
    host::KeySlot slot{};
    std::memcpy(slot.data(), &word, sizeof word);
    return slot;
}

int ShapeOfSlot(const host::KeySlot &slot) {
    std::int32_t word = 0;
    std::memcpy(&word, slot.data(), sizeof word);
    const bool restIsZero = std::all_of(slot.begin() + sizeof word, slot.end(),
                                        [](unsigned char byte) { return byte == 0; });
    return restIsZero && word >= 0 && word < SCENE_SHAPE_COUNT ? word : -1;
}

// ---------------------------------------------------------------------------
// Where everything lies in the file.

struct SceneFile::Layout {
    struct Line {
        std::size_t begin = 0;
        std::size_t length = 0;        // without the line end
        std::size_t endingLength = 0;  // 0 for a last line without one
    };

    struct Channel {
        int index = 0;              // 0..8, the file's channel number
        std::size_t firstLine = 0;  // "Channel <i>"
        std::size_t endLine = 0;    // the line after "}"
        host::ChannelId id = nullptr;
        host::EnvelopeId envelope = nullptr;
        std::vector<KeyState> keysAsRead;
        Attributes attributesAsRead{};
    };

    struct Motion {
        std::size_t item = 0;           // index into the items
        std::size_t countLine = 0;      // "NumChannels <n>"
        std::size_t endLine = 0;        // the line after the last channel block
        std::vector<Channel> channels;  // in file order
    };

    // How the file writes a channel block, each part taken from the first
    // block that shows it, so that a block written anew looks like its
    // neighbours; where the file has no block, the usual layout.
    struct Style {
        std::string channelIndent;
        std::string openLine = "{ Envelope";
        std::string countIndent = "  ";
        std::string keyIndent = "  ";
        std::string behavioursIndent = "  ";
        std::string closeLine = "}";
        std::string lineEnd = "\n";
    };

    std::vector<Line> lines;
    std::vector<Motion> motions;  // in file order
    Style style;
};

SceneFile::SceneFile() : layout_(std::make_unique<Layout>()) {}
SceneFile::~SceneFile() = default;
SceneFile::SceneFile(SceneFile &&) noexcept = default;
SceneFile &SceneFile::operator=(SceneFile &&) noexcept = default;

// ---------------------------------------------------------------------------
// Reading.

namespace {

SceneItemKind KindOfMotion(std::string_view keyword) {
    if (keyword == "LightMotion") return SceneItemKind::Light;
    if (keyword == "CameraMotion") return SceneItemKind::Camera;
    if (keyword == "BoneMotion") return SceneItemKind::Bone;
    return SceneItemKind::Object;
}

const char *KindName(SceneItemKind kind) {
    switch (kind) {
        case SceneItemKind::Light:
            return "light";
        case SceneItemKind::Camera:
            return "camera";
        case SceneItemKind::Bone:
            return "bone";
        case SceneItemKind::Object:
            break;
    }
    return "object";
}

// Reads a file's lines in one pass: the header, the scene settings it needs,
// the items and their motion blocks; every other line is only kept.
class Reader {
  public:
    Reader(SceneFile::Layout &layout, const std::string &text, const std::string &fileName,
           Scene &scene, std::vector<SceneFile::Item> &items)
        : layout_(layout), text_(text), fileName_(fileName), scene_(scene), items_(items) {
        SplitLines();
    }

    // Returns the format version.
    int Read() {
        ReadHeader();
        std::size_t index = 2;
        while (index < layout_.lines.size()) index = ReadLine(index);
        PlaceItems();
        scene_.SetFrames(firstFrame_, lastFrame_);
        scene_.SetFramesPerSecond(framesPerSecond_);
        return version_;
    }

  private:
    using TokenList = std::vector<std::string_view>;

    [[noreturn]] void Fail(std::size_t line, const std::string &what) const {
        throw SceneFileError(fileName_ + ":" + std::to_string(line + 1) + ": " + what);
    }

    std::string_view Line(std::size_t index) const {
        const SceneFile::Layout::Line &line = layout_.lines[index];
        return std::string_view(text_).substr(line.begin, line.length);
    }

    // A line of a motion block, which must be there.
    std::string_view Expect(std::size_t index, const char *what) const {
        if (index >= layout_.lines.size())
            Fail(layout_.lines.empty() ? 0 : layout_.lines.size() - 1,
                 std::string("the file ends where ") + what + " should follow");
        return Line(index);
    }

    int IntAfter(std::size_t line, const TokenList &tokens, const char *what) const {
        const std::optional<int> value = tokens.size() == 2 ? ParseInt(tokens[1]) : std::nullopt;
        if (!value) Fail(line, std::string(what) + " needs one whole number");
        return *value;
    }

    void SplitLines() {
        std::size_t at = 0;
        while (at < text_.size()) {
            const std::size_t newline = text_.find('\n', at);
            SceneFile::Layout::Line line{at, 0, 0};
            if (newline == std::string::npos) {
                line.length = text_.size() - at;
                at = text_.size();
            } else {
                const bool crlf = newline > at && text_[newline - 1] == '\r';
                line.length = newline - at - (crlf ? 1 : 0);
                line.endingLength = crlf ? 2 : 1;
                at = newline + 1;
            }
            layout_.lines.push_back(line);
        }
        if (!layout_.lines.empty() && layout_.lines.front().endingLength == 2)
            layout_.style.lineEnd = "\r\n";
    }

    void ReadHeader() {
        if (layout_.lines.empty() || Tokens(Line(0)) != TokenList{"LWSC"})
            Fail(0, "not a LightWave scene file: the first line is not LWSC");
        const TokenList tokens = layout_.lines.size() > 1 ? Tokens(Line(1)) : TokenList{};
        const std::optional<int> version = tokens.size() == 1 ? ParseInt(tokens[0]) : std::nullopt;
        if (!version) Fail(1, "the second line must be the format version");
        if (*version < OLDEST_VERSION)
            Fail(1, "format version " + std::to_string(*version) +
                        " keeps motion in an older layout, which is not read; "
                        "save the scene from a newer Layout first");
        if (*version > NEWEST_VERSION)
            Fail(1, "format version " + std::to_string(*version) +
                        " is newer than this reader knows (3 to 5)");
        version_ = *version;
    }

    // Reads the line at `index` and returns the index of the next line to read.
    std::size_t ReadLine(std::size_t index) {
        const std::string_view line = Line(index);
        const TokenList tokens = Tokens(line);
        const std::string_view keyword = tokens.empty() ? std::string_view() : tokens[0];
        if (keyword == "LightName" || keyword == "CameraName" || keyword == "BoneName") {
            if (awaitingName_) ReadName(index, line, tokens);
        } else if (keyword == "LoadObjectLayer" || keyword == "LoadObject" ||
                   keyword == "AddNullObject" || keyword == "AddLight" || keyword == "AddCamera" ||
                   keyword == "AddBone") {
            ReadItem(index, line, tokens);
        } else if (keyword == "FirstFrame") {
            firstFrame_ = IntAfter(index, tokens, "FirstFrame");
        } else if (keyword == "LastFrame") {
            lastFrame_ = IntAfter(index, tokens, "LastFrame");
        } else if (keyword == "FramesPerSecond") {
            const std::optional<double> fps =
                tokens.size() == 2 ? ParseNumber(tokens[1]) : std::nullopt;
            if (!fps || *fps <= 0.0) Fail(index, "FramesPerSecond needs one positive number");
            framesPerSecond_ = *fps;
        } else if (keyword == "ObjectMotion" || keyword == "LightMotion" ||
                   keyword == "CameraMotion" || keyword == "BoneMotion") {
            return ReadMotion(index, keyword);
        }
        return index + 1;
    }

    // Items take their place in the scene once their name is known, so that
    // a light, camera or bone gets the name given on the line after it.
    void PlaceItems() {
        for (SceneFile::Item &item : items_)
            if (item.id == nullptr) item.id = scene_.AddItem(item.name);
        awaitingName_.reset();
    }

    void ReadName(std::size_t index, std::string_view line, const TokenList &tokens) {
        const SceneItemKind kind = tokens[0] == "LightName"    ? SceneItemKind::Light
                                   : tokens[0] == "CameraName" ? SceneItemKind::Camera
                                                               : SceneItemKind::Bone;
        if (kind != *awaitingName_ || tokens.size() < 2)
            Fail(index,
                 std::string(tokens[0]) + " needs a name and must follow its " + KindName(kind));
        items_.back().name = std::string(RestFrom(line, tokens[1]));
        PlaceItems();
    }

    void ReadItem(std::size_t index, std::string_view line, const TokenList &tokens) {
        PlaceItems();  // an item still unnamed keeps its kind's name
        const std::string_view keyword = tokens[0];
        std::size_t next = 1;
        if (keyword == "LoadObjectLayer") {
            if (tokens.size() < 2 || !ParseInt(tokens[1]))
                Fail(index, "LoadObjectLayer needs a layer number");
            next = 2;
        }
        if (version_ >= 4 && keyword != "LoadObject") {
            if (tokens.size() <= next || !IsHex(tokens[next]))
                Fail(index, std::string(keyword) +
                                " needs a hexadecimal item id in format version " +
                                std::to_string(version_));
            ++next;
        }
        const auto add = [&](SceneItemKind kind, std::string name) {
            items_.push_back(
                SceneFile::Item{nullptr, std::move(name), kind, static_cast<int>(index + 1)});
            hasMotion_.push_back(false);
        };
        if (keyword == "AddLight" || keyword == "AddCamera" || keyword == "AddBone") {
            const SceneItemKind kind = keyword == "AddLight"    ? SceneItemKind::Light
                                       : keyword == "AddCamera" ? SceneItemKind::Camera
                                                                : SceneItemKind::Bone;
            // Layout's own name for an item the file leaves unnamed.
            add(kind, kind == SceneItemKind::Light    ? "Light"
                      : kind == SceneItemKind::Camera ? "Camera"
                                                      : "Bone");
            awaitingName_ = kind;
            return;
        }
        if (tokens.size() <= next)
            Fail(index, std::string(keyword) + " needs a " +
                            (keyword == "AddNullObject" ? "name" : "path"));
        const std::string_view rest = RestFrom(line, tokens[next]);
        add(SceneItemKind::Object,
            keyword == "AddNullObject" ? std::string(rest) : ObjectName(rest));
        PlaceItems();
    }

    std::size_t ReadMotion(std::size_t index, std::string_view keyword) {
        PlaceItems();
        const SceneItemKind kind = KindOfMotion(keyword);
        if (items_.empty() || items_.back().kind != kind)
            Fail(index, std::string(keyword) + " must follow the " + KindName(kind) + " it moves");
        if (hasMotion_.back())
            Fail(index, "a second " + std::string(keyword) + " for the " + KindName(kind) +
                            " of line " + std::to_string(items_.back().line));
        hasMotion_.back() = true;

        SceneFile::Layout::Motion block;
        block.item = items_.size() - 1;
        block.countLine = index + 1;
        const TokenList countTokens = Tokens(Expect(block.countLine, "NumChannels"));
        if (countTokens.empty() || countTokens[0] != "NumChannels")
            Fail(block.countLine, "NumChannels must follow " + std::string(keyword));
        const int channelCount = IntAfter(block.countLine, countTokens, "NumChannels");
        if (channelCount < 0 || channelCount > static_cast<int>(MOTION_CHANNEL_NAMES.size()))
            Fail(block.countLine, "NumChannels must be 0 to 9");

        std::size_t at = block.countLine + 1;
        std::array<bool, MOTION_CHANNEL_NAMES.size()> seen{};
        for (int c = 0; c < channelCount; ++c) {
            SceneFile::Layout::Channel channel = ReadChannel(at, items_.back().id);
            bool &taken = seen[static_cast<std::size_t>(channel.index)];
            if (taken) Fail(at, "channel " + std::to_string(channel.index) + " appears twice");
            taken = true;
            at = channel.endLine;
            block.channels.push_back(std::move(channel));
        }
        block.endLine = at;
        layout_.motions.push_back(std::move(block));
        return at;
    }

    // One channel block, from its "Channel <i>" line at `at` to its "}".
    SceneFile::Layout::Channel ReadChannel(std::size_t at, host::ItemId item) {
        SceneFile::Layout::Channel channel;
        channel.firstLine = at;
        const std::string_view header = Expect(at, "a Channel line");
        const TokenList headerTokens = Tokens(header);
        if (headerTokens.empty() || headerTokens[0] != "Channel")
            Fail(at, "a channel block should start here, with \"Channel <number>\"");
        channel.index = IntAfter(at, headerTokens, "Channel");
        if (channel.index < 0 || channel.index >= static_cast<int>(MOTION_CHANNEL_NAMES.size()))
            Fail(at, "motion channels are numbered 0 to 8");

        const std::string_view open = Expect(at + 1, "{ Envelope");
        if (Tokens(open) != TokenList{"{", "Envelope"})
            Fail(at + 1, "\"{ Envelope\" must follow the Channel line");
        const std::string_view countLine = Expect(at + 2, "the key count");
        const TokenList countTokens = Tokens(countLine);
        const std::optional<int> keyCount =
            countTokens.size() == 1 ? ParseInt(countTokens[0]) : std::nullopt;
        if (!keyCount || *keyCount < 0) Fail(at + 2, "an envelope starts with its key count");

        const auto index = static_cast<std::size_t>(channel.index);
        channel.id = scene_.AddChannel(item, MOTION_CHANNEL_NAMES[index], MotionChannelType(index));
        channel.envelope = scene_.Channels(item).back().envelope;
        std::size_t keyLine = at + 3;
        for (int k = 0; k < *keyCount; ++k, ++keyLine) ReadKey(keyLine, channel, *keyCount);

        const std::string_view behaviours = Expect(keyLine, "Behaviors");
        const TokenList behaviourTokens = Tokens(behaviours);
        std::optional<int> pre, post;
        if (behaviourTokens.size() == 3 && behaviourTokens[0] == "Behaviors") {
            pre = ParseInt(behaviourTokens[1]);
            post = ParseInt(behaviourTokens[2]);
        }
        const auto valid = [](std::optional<int> b) {
            return b && *b >= 0 && *b < SCENE_BEHAVIOUR_COUNT;
        };
        if (!valid(pre) || !valid(post))
            Fail(keyLine, "the keys end with \"Behaviors <pre> <post>\", each 0 to 5");
        scene_.SetAttribute(channel.envelope, 0, *pre);
        scene_.SetAttribute(channel.envelope, 1, *post);
        const std::string_view close = Expect(keyLine + 1, "}");
        if (Tokens(close) != TokenList{"}"}) Fail(keyLine + 1, "\"}\" must close the envelope");
        channel.endLine = keyLine + 2;

        TakeStyle(header, open, countLine, *keyCount > 0 ? Line(at + 3) : std::string_view(),
                  behaviours, close);
        channel.keysAsRead = scene_.Keys(channel.envelope);
        channel.attributesAsRead = AttributesOf(scene_, channel.envelope);
        return channel;
    }

    void ReadKey(std::size_t line, const SceneFile::Layout::Channel &channel, int keyCount) {
        const TokenList fields = Tokens(Expect(line, "a Key line"));
        if (fields.empty() || fields[0] != "Key")
            Fail(line, "the envelope should hold " + std::to_string(keyCount) +
                           " keys, and this is not a Key line");
        if (fields.size() != KEY_FIELD_COUNT + 1)
            Fail(line, "a key needs nine numbers: value, time, shape and six parameters");
        std::array<double, KEY_FIELD_COUNT> numbers{};
        for (std::size_t f = 0; f < KEY_FIELD_COUNT; ++f) {
            const std::optional<double> number = ParseNumber(fields[f + 1]);
            if (!number)
                Fail(line, "\"" + std::string(fields[f + 1]) + "\" is not a finite number");
            numbers[f] = *number;
        }
        const std::optional<int> shape = ParseInt(fields[3]);
        if (!shape || *shape < 0 || *shape >= SCENE_SHAPE_COUNT)
            Fail(line, "a key's shape is a whole number 0 to 5");
        // The scene keeps one key per time; a second would silently replace the first.
        const std::size_t before = scene_.KeyCount(channel.envelope);
        const host::KeyId key = scene_.AddKey(channel.id, numbers[1], numbers[0]);
        if (scene_.KeyCount(channel.envelope) == before)
            Fail(line, "a second key at time " + std::string(fields[2]));
        scene_.SetKeyParameter(key, host::LWKEY_SHAPE, ShapeSlot(*shape));
        for (int p = 0; p < FILE_PARAMETER_COUNT; ++p)
            scene_.SetKeyParameter(key, host::LWKEY_TENSION + p,
                                   NumberSlot(numbers[static_cast<std::size_t>(3 + p)]));
    }

    // Each part of the style from the first block that shows it.
    void TakeStyle(std::string_view header, std::string_view open, std::string_view count,
                   std::string_view firstKey, std::string_view behaviours, std::string_view close) {
        SceneFile::Layout::Style &style = layout_.style;
        if (!firstKey.empty() && !keyStyleTaken_) {
            style.keyIndent = Indent(firstKey);
            keyStyleTaken_ = true;
        }
        if (blockStyleTaken_) return;
        style.channelIndent = Indent(header);
        style.openLine = TrimEnd(open);
        style.countIndent = Indent(count);
        style.behavioursIndent = Indent(behaviours);
        style.closeLine = TrimEnd(close);
        blockStyleTaken_ = true;
    }

    SceneFile::Layout &layout_;
    const std::string &text_;
    const std::string &fileName_;
    Scene &scene_;
    std::vector<SceneFile::Item> &items_;
    int version_ = 0;
    int firstFrame_ = FIRST_FRAME_DEFAULT;
    int lastFrame_ = LAST_FRAME_DEFAULT;
    double framesPerSecond_ = FRAMES_PER_SECOND_DEFAULT;
    std::vector<bool> hasMotion_;                // per item
    std::optional<SceneItemKind> awaitingName_;  // the last item, a light, camera or bone
    bool blockStyleTaken_ = false;
    bool keyStyleTaken_ = false;
};

}  // namespace

SceneFile SceneFile::Read(std::string text, Scene &scene, std::string fileName) {
    if (!scene.Items().empty())
        throw std::invalid_argument("a scene file is read into an empty scene");
    SceneFile file;
    file.fileName_ = std::move(fileName);
    file.text_ = std::move(text);
    file.version_ = Reader(*file.layout_, file.text_, file.fileName_, scene, file.items_).Read();
    return file;
}

SceneFile SceneFile::Load(const std::filesystem::path &path, Scene &scene) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored))
        throw SceneFileError("cannot open " + path.string() + ": it is a folder");
    std::ifstream stream(path, std::ios::binary);
    if (!stream) throw SceneFileError("cannot open " + path.string() + ": " + std::strerror(errno));
    std::ostringstream text;
    text << stream.rdbuf();
    if (stream.bad()) throw SceneFileError("cannot read " + path.string());
    return Read(std::move(text).str(), scene, path.string());
}

// ---------------------------------------------------------------------------
// Writing.

namespace {

// Gathers what the scene holds that the file cannot, so that one error names
// every problem rather than the first alone.
class Problems {
  public:
    void Add(std::string problem) {
        ++count_;
        if (shown_.size() < PROBLEMS_SHOWN) shown_.push_back(std::move(problem));
    }
    void ThrowIfAny(const std::string &fileName) const {
        if (count_ == 0) return;
        std::string message = fileName + ": the scene holds what a scene file cannot:";
        for (const std::string &problem : shown_) message += "\n  " + problem;
        if (count_ > shown_.size())
            message += "\n  and " + std::to_string(count_ - shown_.size()) + " more";
        throw SceneFileError(message);
    }

  private:
    std::vector<std::string> shown_;
    std::size_t count_ = 0;
};

struct ChannelText {
    int index = 0;
    std::string text;  // the whole block, line ends included
};

class Writer {
  public:
    Writer(const SceneFile &file, const SceneFile::Layout &layout, const std::string &text,
           const Scene &scene)
        : file_(file), layout_(layout), text_(text), scene_(scene) {}

    std::string Write() {
        CheckItems();
        std::string out;
        out.reserve(text_.size());
        std::size_t line = 0;
        std::vector<bool> hasMotion(file_.Items().size(), false);
        for (const SceneFile::Layout::Motion &motion : layout_.motions) {
            hasMotion[motion.item] = true;
            AppendLines(out, line, motion.countLine);
            AppendMotion(out, motion);
            line = motion.endLine;
        }
        AppendLines(out, line, layout_.lines.size());
        for (std::size_t i = 0; i < hasMotion.size(); ++i)
            if (!hasMotion[i] && !scene_.Channels(file_.Items()[i].id).empty())
                problems_.Add(ItemLabel(i) + " has channels, and no motion block in the file");
        problems_.ThrowIfAny(file_.FileName());
        return out;
    }

  private:
    void CheckItems() {
        const std::vector<host::ItemId> items = scene_.Items();
        for (std::size_t i = file_.Items().size(); i < items.size(); ++i)
            problems_.Add("item \"" + scene_.ItemName(items[i]) + "\" is not in the file");
    }

    std::string ItemLabel(std::size_t item) const {
        return "item \"" + file_.Items()[item].name + "\" (line " +
               std::to_string(file_.Items()[item].line) + ")";
    }

    std::string_view LineWithEnd(std::size_t index) const {
        const SceneFile::Layout::Line &line = layout_.lines[index];
        return std::string_view(text_).substr(line.begin, line.length + line.endingLength);
    }

    void AppendLines(std::string &out, std::size_t from, std::size_t to) const {
        for (std::size_t i = from; i < to; ++i) out += LineWithEnd(i);
    }

    void AppendMotion(std::string &out, const SceneFile::Layout::Motion &motion) {
        const host::ItemId item = file_.Items()[motion.item].id;
        std::vector<ChannelText> blocks;  // in the order they are written
        for (const SceneFile::Layout::Channel &channel : motion.channels) {
            std::string text;
            if (Unchanged(channel)) {
                for (std::size_t i = channel.firstLine; i < channel.endLine; ++i)
                    text += LineWithEnd(i);
            } else {
                text = ChannelBlock(motion.item, channel.index, channel.envelope);
            }
            blocks.push_back(ChannelText{channel.index, std::move(text)});
        }
        // Channels the file did not have, each before the first block of a
        // higher number, so that a file in the usual order stays in order.
        std::array<bool, MOTION_CHANNEL_NAMES.size()> named{};
        for (const ChannelState &channel : scene_.Channels(item)) {
            const std::optional<int> index = MotionChannelIndex(channel.name);
            if (!index) {
                problems_.Add(ItemLabel(motion.item) + " has a channel \"" + channel.name +
                              "\", which is none of the nine motion channels");
                continue;
            }
            if (std::exchange(named[static_cast<std::size_t>(*index)], true)) {
                problems_.Add(ItemLabel(motion.item) + " has two channels \"" + channel.name +
                              "\"");
                continue;
            }
            const bool inFile =
                std::any_of(motion.channels.begin(), motion.channels.end(),
                            [&](const auto &known) { return known.id == channel.id; });
            if (inFile) continue;
            const auto place =
                std::find_if(blocks.begin(), blocks.end(),
                             [&](const ChannelText &block) { return block.index > *index; });
            blocks.insert(place,
                          ChannelText{*index, ChannelBlock(motion.item, *index, channel.envelope)});
        }

        if (blocks.size() == motion.channels.size()) {
            out += LineWithEnd(motion.countLine);
        } else {
            out += std::string(Indent(LineWithEnd(motion.countLine))) + "NumChannels " +
                   std::to_string(blocks.size()) + LineEnd(motion.countLine);
        }
        for (const ChannelText &block : blocks) out += block.text;
    }

    // The line end the file used on a line, or its usual one where the line has none.
    std::string LineEnd(std::size_t line) const {
        const SceneFile::Layout::Line &record = layout_.lines[line];
        return record.endingLength == 0
                   ? layout_.style.lineEnd
                   : text_.substr(record.begin + record.length, record.endingLength);
    }

    bool Unchanged(const SceneFile::Layout::Channel &channel) const {
        return SameKeys(scene_.Keys(channel.envelope), channel.keysAsRead) &&
               AttributesOf(scene_, channel.envelope) == channel.attributesAsRead;
    }

    std::string ChannelBlock(std::size_t item, int index, host::EnvelopeId envelope) {
        const SceneFile::Layout::Style &style = layout_.style;
        const std::string where =
            ItemLabel(item) + ", " + MOTION_CHANNEL_NAMES[static_cast<std::size_t>(index)];
        if (envelope == nullptr) {
            problems_.Add(where + " has no envelope");
            return {};
        }
        const std::string &end = style.lineEnd;
        std::string text =
            style.channelIndent + "Channel " + std::to_string(index) + end + style.openLine + end;
        const std::vector<KeyState> keys = scene_.Keys(envelope);
        text += style.countIndent + std::to_string(keys.size()) + end;
        for (const KeyState &key : keys) {
            const std::string at = where + ", key at " + NumberText(key.time) + " s: ";
            const auto &slots = key.parameters;
            const int shape = ShapeOfSlot(slots[0]);
            if (shape < 0) problems_.Add(at + "its shape is not one of 0 to 5");
            if (slots[host::LWKEY_PARAM_3 - host::LWKEY_SHAPE] != host::KeySlot{})
                problems_.Add(at + "LWKEY_PARAM_3 is not zero");
            std::string line = style.keyIndent + "Key " + NumberText(key.value) + " " +
                               NumberText(key.time) + " " + std::to_string(shape);
            bool finite = std::isfinite(key.value);
            for (int p = 0; p < FILE_PARAMETER_COUNT; ++p) {
                const double number = SlotNumber(slots[static_cast<std::size_t>(1 + p)]);
                finite = finite && std::isfinite(number);
                line += " " + NumberText(number);
            }
            if (!finite) problems_.Add(at + "a value or parameter is not a finite number");
            text += line + end;
        }
        const Attributes attributes = AttributesOf(scene_, envelope);
        for (int i = 0; i < 2; ++i)
            if (attributes[static_cast<std::size_t>(i)] < 0 ||
                attributes[static_cast<std::size_t>(i)] >= SCENE_BEHAVIOUR_COUNT)
                problems_.Add(where + ": envelope attribute " + std::to_string(i) +
                              " is not a behaviour 0 to 5");
        if (attributes[2] != 0) problems_.Add(where + ": envelope attribute 2 is not zero");
        text += style.behavioursIndent + "Behaviors " + std::to_string(attributes[0]) + " " +
                std::to_string(attributes[1]) + end + style.closeLine + end;
        return text;
    }

    const SceneFile &file_;
    const SceneFile::Layout &layout_;
    const std::string &text_;
    const Scene &scene_;
    Problems problems_;
};

}  // namespace

std::string SceneFile::Write(const Scene &scene) const {
    return Writer(*this, *layout_, text_, scene).Write();
}

}  // namespace standin
