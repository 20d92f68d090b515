// Scene files: the reader goes through the file once, a piece at a time,
// putting items and keys into the scene and remembering where each motion
// block and channel block lies; the writer gives back the bytes of
// everything unchanged, read again from the file, and writes the changed
// channels anew.
#include "scenefile/scene_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <optional>
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
// The file is read, and its unchanged parts copied, this many bytes at a time.
constexpr std::size_t PIECE_BYTES = std::size_t{1} << 20;

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

// The blank-separated fields of a line, without allocating: a key line is
// read millions of times. Only the first few fields are kept; `count` counts
// them all.
struct Fields {
    static constexpr std::size_t KEPT = KEY_FIELD_COUNT + 2;
    std::array<std::string_view, KEPT> field{};
    std::size_t count = 0;

    explicit Fields(std::string_view line) {
        std::size_t at = 0;
        while (at < line.size()) {
            while (at < line.size() && IsBlank(line[at])) ++at;
            const std::size_t start = at;
            while (at < line.size() && !IsBlank(line[at])) ++at;
            if (at == start) continue;
            if (count < KEPT) field[count] = line.substr(start, at - start);
            ++count;
        }
    }
    std::string_view operator[](std::size_t index) const {
        return index < std::min(count, KEPT) ? field[index] : std::string_view();
    }
    std::string_view First() const { return (*this)[0]; }
    bool Are(std::initializer_list<std::string_view> expected) const {
        return count == expected.size() &&
               std::equal(expected.begin(), expected.end(), field.begin());
    }
};

std::string_view Indent(std::string_view line) {
    std::size_t at = 0;
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    return line.substr(0, at);
}

std::string_view TrimEnd(std::string_view text) {
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

// The rest of a line from a field on, as it stands (names and paths may hold blanks).
std::string_view RestFrom(std::string_view line, std::string_view field) {
    return TrimEnd(line.substr(static_cast<std::size_t>(field.data() - line.data())));
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

// Appends the shortest text that reads back to the same double.
void AppendNumber(std::string &out, double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    out.append(text, result.ptr);
}

std::string NumberText(double value) {
    std::string text;
    AppendNumber(text, value);
    return text;
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

using Attributes = std::array<int, host::ENVELOPE_ATTRIBUTE_COUNT>;

Attributes AttributesOf(const Scene &scene, host::EnvelopeId envelope) {
    Attributes attributes{};
    for (int i = 0; i < host::ENVELOPE_ATTRIBUTE_COUNT; ++i)
        attributes[static_cast<std::size_t>(i)] = scene.Attribute(envelope, i);
    return attributes;
}

// A key line read: what the host keeps of it, or what is wrong with it.
struct KeyLine {
    enum class Fault { None, NotAKey, FieldCount, NotANumber, Shape };
    Fault fault = Fault::None;
    std::string_view badNumber;  // with Fault::NotANumber
    double value = 0.0;
    double time = 0.0;
    host::KeyRawSlots parameters{};
};

KeyLine ReadKeyLine(const Fields &fields) {
    KeyLine key;
    if (fields.First() != "Key") {
        key.fault = KeyLine::Fault::NotAKey;
        return key;
    }
    if (fields.count != KEY_FIELD_COUNT + 1) {
        key.fault = KeyLine::Fault::FieldCount;
        return key;
    }
    std::array<double, KEY_FIELD_COUNT> numbers{};
    for (std::size_t f = 0; f < KEY_FIELD_COUNT; ++f) {
        const std::optional<double> number = ParseNumber(fields[f + 1]);
        if (!number) {
            key.fault = KeyLine::Fault::NotANumber;
            key.badNumber = fields[f + 1];
            return key;
        }
        numbers[f] = *number;
    }
    const std::optional<int> shape = ParseInt(fields[3]);
    if (!shape || *shape < 0 || *shape >= SCENE_SHAPE_COUNT) {
        key.fault = KeyLine::Fault::Shape;
        return key;
    }
    key.value = numbers[0];
    key.time = numbers[1];
    key.parameters[0] = ShapeSlot(*shape);
    for (int p = 0; p < FILE_PARAMETER_COUNT; ++p)
        key.parameters[static_cast<std::size_t>(1 + p)] =
            NumberSlot(numbers[static_cast<std::size_t>(3 + p)]);
    return key;
}

// "Behaviors <pre> <post>", each a behaviour 0 to 5.
std::optional<std::pair<int, int>> ReadBehaviours(const Fields &fields) {
    if (fields.count != 3 || fields.First() != "Behaviors") return std::nullopt;
    const std::optional<int> pre = ParseInt(fields[1]), post = ParseInt(fields[2]);
    const auto valid = [](std::optional<int> b) {
        return b && *b >= 0 && *b < SCENE_BEHAVIOUR_COUNT;
    };
    if (!valid(pre) || !valid(post)) return std::nullopt;
    return std::pair{*pre, *post};
}

// An open file, closed with its owner.
class FileHandle {
  public:
    FileHandle() = default;
    explicit FileHandle(int descriptor) : descriptor_(descriptor) {}
    ~FileHandle() {
        if (descriptor_ >= 0) ::close(descriptor_);
    }
    FileHandle(FileHandle &&other) noexcept : descriptor_(std::exchange(other.descriptor_, -1)) {}
    FileHandle &operator=(FileHandle &&other) noexcept {
        std::swap(descriptor_, other.descriptor_);
        return *this;
    }
    int Get() const { return descriptor_; }

  private:
    int descriptor_ = -1;
};

std::string ErrorText(int error) {
    return std::generic_category().message(error);
}

// What the system refused, with its reason, for a caller to tell apart.
SceneFileError SystemFailure(const std::string &what, int error) {
    return SceneFileError(what + ": " + ErrorText(error), error);
}

// What tells a file from the same file changed: a write in place moves its
// modification time, and almost always its size.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t modifiedSeconds = 0;
    long modifiedNanoseconds = 0;

    static FileIdentity Of(const struct stat &status) {
        return {status.st_dev, status.st_ino, status.st_size, status.st_mtim.tv_sec,
                status.st_mtim.tv_nsec};
    }
    bool operator==(const FileIdentity &) const = default;
};

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

const char *SceneItemKindName(SceneItemKind kind) {
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

// ---------------------------------------------------------------------------
// Where everything lies in the file, and the file's bytes.

struct SceneFile::Layout {
    // A run of bytes of the file: [begin, end).
    struct Span {
        std::size_t begin = 0;
        std::size_t end = 0;
    };

    struct Channel {
        int index = 0;  // 0..8, the file's channel number
        Span bytes;     // from "Channel <i>" to the line end after "}"
        host::ChannelId id = nullptr;
        host::EnvelopeId envelope = nullptr;
        std::uint64_t editsAsRead = 0;  // the envelope's edits once read
        bool endsLine = true;           // false when its "}" ends the file with no line end
    };

    struct Motion {
        std::size_t item = 0;  // index into the items
        Span countLine;        // "NumChannels <n>" with its line end
        std::size_t countLineEnding = 0;
        std::size_t end = 0;            // where the last channel block ends
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

    // The bytes read: the text itself, or the file they came from, open.
    class Source {
      public:
        explicit Source(std::string text) : text_(std::move(text)), size_(text_.size()) {}
        Source(FileHandle file, const struct stat &status, std::string name)
            : file_(std::move(file)),
              identity_(FileIdentity::Of(status)),
              name_(std::move(name)),
              size_(static_cast<std::size_t>(status.st_size)) {}

        std::size_t Size() const { return size_; }
        bool InMemory() const { return file_.Get() < 0; }
        const std::string &Text() const { return text_; }

        // The bytes [begin, end), valid until the next call.
        std::string_view View(std::size_t begin, std::size_t end) const {
            if (InMemory()) return std::string_view(text_).substr(begin, end - begin);
            buffer_.resize(end - begin);
            std::size_t done = 0;
            while (done < buffer_.size()) {
                const ssize_t got =
                    ::pread(file_.Get(), buffer_.data() + done, buffer_.size() - done,
                            static_cast<off_t>(begin + done));
                if (got < 0 && errno == EINTR) continue;
                if (got < 0) throw SystemFailure("cannot read " + name_ + " again", errno);
                if (got == 0)
                    throw SceneFileError("cannot read " + name_ + " again: it has become shorter");
                done += static_cast<std::size_t>(got);
            }
            return buffer_;
        }

        // Writing takes the unchanged parts from the file again, so they
        // must still be the bytes that were read.
        void CheckUnchanged() const {
            if (InMemory()) return;
            struct stat status {};
            if (::fstat(file_.Get(), &status) != 0 || !(FileIdentity::Of(status) == identity_))
                throw SceneFileError(name_ +
                                     " has changed since it was read; read it again before "
                                     "writing the scene");
        }

      private:
        std::string text_;
        FileHandle file_;
        FileIdentity identity_{};
        std::string name_;
        std::size_t size_ = 0;
        mutable std::string buffer_;
    };

    explicit Layout(Source bytes) : source(std::move(bytes)) {}

    Source source;
    std::vector<Motion> motions;  // in file order
    Style style;
};

SceneFile::SceneFile() = default;
SceneFile::~SceneFile() = default;
SceneFile::SceneFile(SceneFile &&) noexcept = default;
SceneFile &SceneFile::operator=(SceneFile &&) noexcept = default;

std::size_t SceneFile::Size() const {
    return layout_->source.Size();
}

// ---------------------------------------------------------------------------
// Reading.

namespace {

SceneItemKind KindOfMotion(std::string_view keyword) {
    if (keyword == "LightMotion") return SceneItemKind::Light;
    if (keyword == "CameraMotion") return SceneItemKind::Camera;
    if (keyword == "BoneMotion") return SceneItemKind::Bone;
    return SceneItemKind::Object;
}

// One line of the file: its text without the line end, where it starts, and
// how long its line end is (0 for a last line without one).
struct Line {
    std::string_view text;
    std::size_t begin = 0;
    std::size_t endingLength = 0;

    std::size_t End() const { return begin + text.size() + endingLength; }
};

// The file's lines in order, from the text in memory or read from the file a
// piece at a time; a line's text stays valid until the next line is taken.
class LineReader {
  public:
    explicit LineReader(const std::string &text) : window_(text), size_(text.size()) {}
    LineReader(int file, std::size_t size, std::string name, const SceneFile::Progress &progress)
        : file_(file), size_(size), name_(std::move(name)), progress_(progress) {
        buffer_.resize(std::min(size, PIECE_BYTES));
    }

    // Takes the next line; false at the end of the file.
    bool Next(Line &line) {
        while (true) {
            const std::size_t newline = window_.find('\n', scanned_);
            if (newline != std::string_view::npos) {
                const bool crlf = newline > 0 && window_[newline - 1] == '\r';
                Take(line, newline - (crlf ? 1 : 0), newline + 1);
                return true;
            }
            scanned_ = window_.size();
            if (!ReadMore()) break;
        }
        if (window_.empty()) return false;
        Take(line, window_.size(), window_.size());
        return true;
    }

    // The number of the line taken last, from 1.
    std::size_t Number() const { return number_; }

  private:
    void Take(Line &line, std::size_t textEnd, std::size_t lineEnd) {
        line.text = window_.substr(0, textEnd);
        line.begin = windowBegin_;
        line.endingLength = lineEnd - textEnd;
        window_.remove_prefix(lineEnd);
        windowBegin_ += lineEnd;
        scanned_ = 0;
        ++number_;
    }

    // Moves what is left of the window to the buffer's front and reads on
    // behind it, growing the buffer for a line longer than it; false when
    // the whole file has been read.
    bool ReadMore() {
        if (file_ < 0 || readSoFar_ == size_) return false;
        const std::size_t kept = window_.size();
        if (kept > 0) std::memmove(buffer_.data(), window_.data(), kept);
        if (buffer_.size() - kept < PIECE_BYTES / 2)
            buffer_.resize(std::min(size_ - readSoFar_ + kept, kept + PIECE_BYTES));
        std::size_t filled = kept;
        while (filled < buffer_.size() && readSoFar_ < size_) {
            const ssize_t got = ::read(file_, buffer_.data() + filled, buffer_.size() - filled);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) throw SystemFailure("cannot read " + name_, errno);
            if (got == 0) throw SceneFileError("cannot read " + name_ + ": it became shorter");
            filled += static_cast<std::size_t>(got);
            readSoFar_ += static_cast<std::size_t>(got);
        }
        window_ = std::string_view(buffer_.data(), filled);
        if (progress_) progress_(readSoFar_, size_);
        return true;
    }

    std::string_view window_;      // the bytes not yet taken
    std::size_t windowBegin_ = 0;  // where the window starts in the file
    std::size_t scanned_ = 0;      // the window's bytes known to hold no line end
    std::size_t number_ = 0;
    int file_ = -1;
    std::size_t size_ = 0;
    std::size_t readSoFar_ = 0;
    std::string name_;
    SceneFile::Progress progress_;
    std::string buffer_;
};

// Reads a file's lines in one pass: the header, the scene settings it needs,
// the items and their motion blocks; every other line is only passed over.
class Reader {
  public:
    Reader(SceneFile::Layout &layout, LineReader &lines, const std::string &fileName, Scene &scene,
           std::vector<SceneFile::Item> &items)
        : layout_(layout), lines_(lines), fileName_(fileName), scene_(scene), items_(items) {}

    // Returns the format version.
    int Read() {
        ReadHeader();
        Line line;
        while (lines_.Next(line)) ReadLine(line);
        PlaceItems();
        scene_.SetFrames(firstFrame_, lastFrame_);
        scene_.SetFramesPerSecond(framesPerSecond_);
        return version_;
    }

  private:
    // Fails on line `number`, counted from 1.
    [[noreturn]] void Fail(std::size_t number, const std::string &what) const {
        throw SceneFileError(fileName_ + ":" + std::to_string(number) + ": " + what);
    }
    [[noreturn]] void Fail(const std::string &what) const { Fail(lines_.Number(), what); }

    // The next line of a motion block, which must be there.
    Line Expect(const char *what) {
        Line line;
        if (!lines_.Next(line))
            Fail(std::max<std::size_t>(lines_.Number(), 1),
                 std::string("the file ends where ") + what + " should follow");
        return line;
    }

    int IntAfter(const Fields &fields, const char *what) const {
        const std::optional<int> value = fields.count == 2 ? ParseInt(fields[1]) : std::nullopt;
        if (!value) Fail(std::string(what) + " needs one whole number");
        return *value;
    }

    void ReadHeader() {
        Line line;
        if (!lines_.Next(line) || !Fields(line.text).Are({"LWSC"}))
            Fail(1, "not a LightWave scene file: the first line is not LWSC");
        if (line.endingLength == 2) layout_.style.lineEnd = "\r\n";
        const bool hasVersion = lines_.Next(line);
        const Fields fields(hasVersion ? line.text : std::string_view());
        const std::optional<int> version =
            fields.count == 1 ? ParseInt(fields.First()) : std::nullopt;
        if (!version) Fail(2, "the second line must be the format version");
        if (*version < OLDEST_VERSION)
            Fail(2, "format version " + std::to_string(*version) +
                        " keeps motion in an older layout, which is not read; "
                        "save the scene from a newer Layout first");
        if (*version > NEWEST_VERSION)
            Fail(2, "format version " + std::to_string(*version) +
                        " is newer than this reader knows (3 to 5)");
        version_ = *version;
    }

    void ReadLine(const Line &line) {
        const Fields fields(line.text);
        const std::string_view keyword = fields.First();
        if (keyword == "LightName" || keyword == "CameraName" || keyword == "BoneName") {
            if (awaitingName_) ReadName(line.text, fields);
        } else if (keyword == "LoadObjectLayer" || keyword == "LoadObject" ||
                   keyword == "AddNullObject" || keyword == "AddLight" || keyword == "AddCamera" ||
                   keyword == "AddBone") {
            ReadItem(line.text, fields);
        } else if (keyword == "FirstFrame") {
            firstFrame_ = IntAfter(fields, "FirstFrame");
        } else if (keyword == "LastFrame") {
            lastFrame_ = IntAfter(fields, "LastFrame");
        } else if (keyword == "FramesPerSecond") {
            const std::optional<double> fps =
                fields.count == 2 ? ParseNumber(fields[1]) : std::nullopt;
            if (!fps || *fps <= 0.0) Fail("FramesPerSecond needs one positive number");
            framesPerSecond_ = *fps;
        } else if (keyword == "ObjectMotion" || keyword == "LightMotion" ||
                   keyword == "CameraMotion" || keyword == "BoneMotion") {
            ReadMotion(keyword);
        }
    }

    // Items take their place in the scene once their name is known, so that
    // a light, camera or bone gets the name given on the line after it.
    void PlaceItems() {
        for (std::size_t i = placed_; i < items_.size(); ++i)
            items_[i].id = scene_.AddItem(items_[i].name);
        placed_ = items_.size();
        awaitingName_.reset();
    }

    void ReadName(std::string_view line, const Fields &fields) {
        const SceneItemKind kind = fields.First() == "LightName"    ? SceneItemKind::Light
                                   : fields.First() == "CameraName" ? SceneItemKind::Camera
                                                                    : SceneItemKind::Bone;
        if (kind != *awaitingName_ || fields.count < 2)
            Fail(std::string(fields.First()) + " needs a name and must follow its " +
                 SceneItemKindName(kind));
        items_.back().name = std::string(RestFrom(line, fields[1]));
        PlaceItems();
    }

    void ReadItem(std::string_view line, const Fields &fields) {
        PlaceItems();  // an item still unnamed keeps its kind's name
        const std::string_view keyword = fields.First();
        std::size_t next = 1;
        if (keyword == "LoadObjectLayer") {
            if (fields.count < 2 || !ParseInt(fields[1]))
                Fail("LoadObjectLayer needs a layer number");
            next = 2;
        }
        if (version_ >= 4 && keyword != "LoadObject") {
            if (fields.count <= next || !IsHex(fields[next]))
                Fail(std::string(keyword) + " needs a hexadecimal item id in format version " +
                     std::to_string(version_));
            ++next;
        }
        const auto add = [&](SceneItemKind kind, std::string name) {
            items_.push_back(
                SceneFile::Item{nullptr, std::move(name), kind, static_cast<int>(lines_.Number())});
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
        if (fields.count <= next)
            Fail(std::string(keyword) + " needs a " +
                 (keyword == "AddNullObject" ? "name" : "path"));
        const std::string_view rest = RestFrom(line, fields[next]);
        add(SceneItemKind::Object,
            keyword == "AddNullObject" ? std::string(rest) : ObjectName(rest));
        PlaceItems();
    }

    void ReadMotion(std::string_view keywordOnLine) {
        const std::string keyword(keywordOnLine);  // the line goes when the next is taken
        PlaceItems();
        const SceneItemKind kind = KindOfMotion(keyword);
        if (items_.empty() || items_.back().kind != kind)
            Fail(keyword + " must follow the " + SceneItemKindName(kind) + " it moves");
        if (hasMotion_.back())
            Fail("a second " + keyword + " for the " + SceneItemKindName(kind) + " of line " +
                 std::to_string(items_.back().line));
        hasMotion_.back() = true;

        SceneFile::Layout::Motion block;
        block.item = items_.size() - 1;
        const Line countLine = Expect("NumChannels");
        block.countLine = {countLine.begin, countLine.End()};
        block.countLineEnding = countLine.endingLength;
        const Fields countFields(countLine.text);
        if (countFields.First() != "NumChannels") Fail("NumChannels must follow " + keyword);
        const int channelCount = IntAfter(countFields, "NumChannels");
        if (channelCount < 0 || channelCount > static_cast<int>(MOTION_CHANNEL_NAMES.size()))
            Fail("NumChannels must be 0 to 9");

        block.end = block.countLine.end;
        std::array<bool, MOTION_CHANNEL_NAMES.size()> seen{};
        for (int c = 0; c < channelCount; ++c) {
            const std::size_t headerNumber = lines_.Number() + 1;
            SceneFile::Layout::Channel channel = ReadChannel(items_.back().id);
            bool &taken = seen[static_cast<std::size_t>(channel.index)];
            if (taken)
                Fail(headerNumber, "channel " + std::to_string(channel.index) + " appears twice");
            taken = true;
            block.end = channel.bytes.end;
            block.channels.push_back(channel);
        }
        layout_.motions.push_back(std::move(block));
    }

    // One channel block, from its "Channel <i>" line to its "}".
    SceneFile::Layout::Channel ReadChannel(host::ItemId item) {
        SceneFile::Layout::Style &style = layout_.style;
        const bool takeStyle = !blockStyleTaken_;
        SceneFile::Layout::Channel channel;
        const Line header = Expect("a Channel line");
        channel.bytes.begin = header.begin;
        const Fields headerFields(header.text);
        if (headerFields.First() != "Channel")
            Fail("a channel block should start here, with \"Channel <number>\"");
        channel.index = IntAfter(headerFields, "Channel");
        if (channel.index < 0 || channel.index >= static_cast<int>(MOTION_CHANNEL_NAMES.size()))
            Fail("motion channels are numbered 0 to 8");
        if (takeStyle) style.channelIndent = Indent(header.text);

        const Line open = Expect("{ Envelope");
        if (!Fields(open.text).Are({"{", "Envelope"}))
            Fail("\"{ Envelope\" must follow the Channel line");
        if (takeStyle) style.openLine = TrimEnd(open.text);
        const Line countLine = Expect("the key count");
        const Fields countFields(countLine.text);
        const std::optional<int> keyCount =
            countFields.count == 1 ? ParseInt(countFields.First()) : std::nullopt;
        if (!keyCount || *keyCount < 0) Fail("an envelope starts with its key count");
        if (takeStyle) style.countIndent = Indent(countLine.text);

        const auto index = static_cast<std::size_t>(channel.index);
        channel.id = scene_.AddChannel(item, MOTION_CHANNEL_NAMES[index], MotionChannelType(index));
        channel.envelope = scene_.Channels(item).back().envelope;
        for (int k = 0; k < *keyCount; ++k) {
            const Line keyLine = Expect("a Key line");
            if (!keyStyleTaken_) {
                style.keyIndent = Indent(keyLine.text);
                keyStyleTaken_ = true;
            }
            AddKey(keyLine, channel, *keyCount);
        }

        const Line behaviours = Expect("Behaviors");
        const std::optional<std::pair<int, int>> behaviour =
            ReadBehaviours(Fields(behaviours.text));
        if (!behaviour) Fail("the keys end with \"Behaviors <pre> <post>\", each 0 to 5");
        scene_.SetAttribute(channel.envelope, 0, behaviour->first);
        scene_.SetAttribute(channel.envelope, 1, behaviour->second);
        if (takeStyle) style.behavioursIndent = Indent(behaviours.text);
        const Line close = Expect("}");
        if (!Fields(close.text).Are({"}"})) Fail("\"}\" must close the envelope");
        if (takeStyle) style.closeLine = TrimEnd(close.text);
        blockStyleTaken_ = true;
        channel.bytes.end = close.End();
        channel.endsLine = close.endingLength > 0;
        channel.editsAsRead = scene_.EnvelopeEdits(channel.envelope);
        return channel;
    }

    void AddKey(const Line &line, const SceneFile::Layout::Channel &channel, int keyCount) {
        const Fields fields(line.text);
        const KeyLine key = ReadKeyLine(fields);
        switch (key.fault) {
            case KeyLine::Fault::None:
                break;
            case KeyLine::Fault::NotAKey:
                Fail("the envelope should hold " + std::to_string(keyCount) +
                     " keys, and this is not a Key line");
            case KeyLine::Fault::FieldCount:
                Fail("a key needs nine numbers: value, time, shape and six parameters");
            case KeyLine::Fault::NotANumber:
                Fail("\"" + std::string(key.badNumber) + "\" is not a finite number");
            case KeyLine::Fault::Shape:
                Fail("a key's shape is a whole number 0 to 5");
        }
        // The scene keeps one key per time; a second would silently replace the first.
        const std::size_t before = scene_.KeyCount(channel.envelope);
        scene_.AddKey(channel.id, key.time, key.value, key.parameters);
        if (scene_.KeyCount(channel.envelope) == before)
            Fail("a second key at time " + std::string(fields[2]));
    }

    SceneFile::Layout &layout_;
    LineReader &lines_;
    const std::string &fileName_;
    Scene &scene_;
    std::vector<SceneFile::Item> &items_;
    int version_ = 0;
    int firstFrame_ = FIRST_FRAME_DEFAULT;
    int lastFrame_ = LAST_FRAME_DEFAULT;
    double framesPerSecond_ = FRAMES_PER_SECOND_DEFAULT;
    std::size_t placed_ = 0;                     // items that have their place in the scene
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
    file.layout_ = std::make_unique<Layout>(Layout::Source(std::move(text)));
    LineReader lines(file.layout_->source.Text());
    file.version_ = Reader(*file.layout_, lines, file.fileName_, scene, file.items_).Read();
    return file;
}

SceneFile SceneFile::Load(const std::filesystem::path &path, Scene &scene,
                          const Progress &progress) {
    if (!scene.Items().empty())
        throw std::invalid_argument("a scene file is read into an empty scene");
    const std::string name = path.string();
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored))
        throw SceneFileError("cannot open " + name + ": it is a folder", EISDIR);
    FileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) throw SystemFailure("cannot open " + name, errno);
    struct stat status {};
    if (::fstat(file.Get(), &status) != 0) throw SystemFailure("cannot read " + name, errno);
    if (!S_ISREG(status.st_mode)) {
        // A pipe cannot be read twice: its text is kept instead.
        std::string text;
        char piece[1 << 16];
        while (true) {
            const ssize_t got = ::read(file.Get(), piece, sizeof piece);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) throw SystemFailure("cannot read " + name, errno);
            if (got == 0) break;
            text.append(piece, static_cast<std::size_t>(got));
            if (progress) progress(text.size(), 0);
        }
        return Read(std::move(text), scene, name);
    }
    if (static_cast<std::uintmax_t>(status.st_size) > std::numeric_limits<std::size_t>::max() / 2)
        throw SceneFileError("cannot read " + name + ": it is too large for this build");

    SceneFile scenes;
    scenes.fileName_ = name;
    const int descriptor = file.Get();
    scenes.layout_ = std::make_unique<Layout>(Layout::Source(std::move(file), status, name));
    LineReader lines(descriptor, scenes.layout_->source.Size(), name, progress);
    scenes.version_ = Reader(*scenes.layout_, lines, scenes.fileName_, scene, scenes.items_).Read();
    return scenes;
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

// A channel block as it goes into the file: the bytes the file holds, or a
// block written anew.
struct ChannelText {
    int index = 0;
    const SceneFile::Layout::Channel *fromFile = nullptr;
    std::string text;
};

class Writer {
  public:
    Writer(const SceneFile &file, const SceneFile::Layout &layout, const Scene &scene,
           const SceneFile::Sink &sink, const SceneFile::Progress &progress)
        : file_(file),
          layout_(layout),
          source_(layout.source),
          scene_(scene),
          sink_(sink),
          progress_(progress) {}

    void Write() {
        source_.CheckUnchanged();
        CheckItems();
        std::size_t at = 0;
        std::vector<bool> hasMotion(file_.Items().size(), false);
        for (const SceneFile::Layout::Motion &motion : layout_.motions) {
            hasMotion[motion.item] = true;
            Copy(at, motion.countLine.begin);
            AppendMotion(motion);
            at = motion.end;
        }
        Copy(at, source_.Size());
        source_.CheckUnchanged();
        for (std::size_t i = 0; i < hasMotion.size(); ++i)
            if (!hasMotion[i] && !scene_.Channels(file_.Items()[i].id).empty())
                problems_.Add(ItemLabel(i) + " has channels, and no motion block in the file");
        problems_.ThrowIfAny(file_.FileName());
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

    void Emit(std::string_view bytes) {
        if (bytes.empty()) return;
        sink_(bytes);
        if (progress_) {
            // Blocks written anew may run past the file's size.
            written_ += bytes.size();
            progress_(std::min(written_, source_.Size()), source_.Size());
        }
    }

    // The file's bytes [begin, end), a piece at a time.
    void Copy(std::size_t begin, std::size_t end) {
        if (source_.InMemory()) {
            Emit(source_.View(begin, end));
            return;
        }
        for (std::size_t at = begin; at < end; at += PIECE_BYTES)
            Emit(source_.View(at, std::min(end, at + PIECE_BYTES)));
    }

    void AppendMotion(const SceneFile::Layout::Motion &motion) {
        const host::ItemId item = file_.Items()[motion.item].id;
        std::vector<ChannelText> blocks;  // in the order they are written
        for (const SceneFile::Layout::Channel &channel : motion.channels) {
            if (Unchanged(channel))
                blocks.push_back(ChannelText{channel.index, &channel, {}});
            else
                blocks.push_back(
                    ChannelText{channel.index, nullptr,
                                ChannelBlock(motion.item, channel.index, channel.envelope)});
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
            blocks.insert(place, ChannelText{*index, nullptr,
                                             ChannelBlock(motion.item, *index, channel.envelope)});
        }

        if (blocks.size() == motion.channels.size()) {
            Copy(motion.countLine.begin, motion.countLine.end);
        } else {
            const std::string_view countLine =
                source_.View(motion.countLine.begin, motion.countLine.end);
            // The line end the file used there, or its usual one where the line has none.
            const std::string lineEnd =
                motion.countLineEnding == 0
                    ? layout_.style.lineEnd
                    : std::string(countLine.substr(countLine.size() - motion.countLineEnding));
            Emit(std::string(Indent(countLine)) + "NumChannels " + std::to_string(blocks.size()) +
                 lineEnd);
        }
        bool onNewLine = true;
        for (const ChannelText &block : blocks) {
            if (block.fromFile == nullptr) {
                // The file's last block may end without a line end; a block
                // written after it still starts on a line of its own.
                if (!onNewLine) Emit(layout_.style.lineEnd);
                Emit(block.text);
                onNewLine = true;
                continue;
            }
            Copy(block.fromFile->bytes.begin, block.fromFile->bytes.end);
            onNewLine = block.fromFile->endsLine;
        }
    }

    // Whether the scene still holds what the channel's block in the file
    // says. An envelope nothing has edited since reading is unchanged; an
    // edited one is compared key by key with the block, so that keys
    // written again as they were keep the file's own text.
    bool Unchanged(const SceneFile::Layout::Channel &channel) const {
        if (scene_.EnvelopeEdits(channel.envelope) == channel.editsAsRead) return true;
        const std::string_view block = source_.View(channel.bytes.begin, channel.bytes.end);
        // The block was read once: a header, "{ Envelope", the key count, the
        // keys, the behaviours and "}", each on a line of its own.
        std::vector<std::string_view> lines;
        for (std::size_t at = 0; at < block.size();) {
            const std::size_t newline = std::min(block.find('\n', at), block.size());
            lines.push_back(block.substr(at, newline - at));
            at = newline + 1;
        }
        const std::vector<KeyState> keys = scene_.Keys(channel.envelope);
        if (lines.size() != keys.size() + 5) return false;
        for (std::size_t k = 0; k < keys.size(); ++k) {
            const KeyLine read = ReadKeyLine(Fields(lines[3 + k]));
            if (read.fault != KeyLine::Fault::None || !SameBits(read.value, keys[k].value) ||
                !SameBits(read.time, keys[k].time) || read.parameters != keys[k].parameters)
                return false;
        }
        const std::optional<std::pair<int, int>> behaviours =
            ReadBehaviours(Fields(lines[lines.size() - 2]));
        return behaviours && AttributesOf(scene_, channel.envelope) ==
                                 Attributes{behaviours->first, behaviours->second, 0};
    }

    std::string ChannelBlock(std::size_t item, int index, host::EnvelopeId envelope) {
        const SceneFile::Layout::Style &style = layout_.style;
        const auto where = [&] {
            return ItemLabel(item) + ", " + MOTION_CHANNEL_NAMES[static_cast<std::size_t>(index)];
        };
        if (envelope == nullptr) {
            problems_.Add(where() + " has no envelope");
            return {};
        }
        const std::string &end = style.lineEnd;
        std::string text =
            style.channelIndent + "Channel " + std::to_string(index) + end + style.openLine + end;
        const std::vector<KeyState> keys = scene_.Keys(envelope);
        text += style.countIndent + std::to_string(keys.size()) + end;
        for (const KeyState &key : keys) {
            const auto &slots = key.parameters;
            const int shape = ShapeOfSlot(slots[0]);
            const auto at = [&] { return where() + ", key at " + NumberText(key.time) + " s: "; };
            if (shape < 0) problems_.Add(at() + "its shape is not one of 0 to 5");
            if (slots[host::LWKEY_PARAM_3 - host::LWKEY_SHAPE] != host::KeySlot{})
                problems_.Add(at() + "LWKEY_PARAM_3 is not zero");
            text += style.keyIndent;
            text += "Key ";
            AppendNumber(text, key.value);
            text += ' ';
            AppendNumber(text, key.time);
            text += ' ';
            text += std::to_string(shape);
            bool finite = std::isfinite(key.value);
            for (int p = 0; p < FILE_PARAMETER_COUNT; ++p) {
                const double number = SlotNumber(slots[static_cast<std::size_t>(1 + p)]);
                finite = finite && std::isfinite(number);
                text += ' ';
                AppendNumber(text, number);
            }
            if (!finite) problems_.Add(at() + "a value or parameter is not a finite number");
            text += end;
        }
        const Attributes attributes = AttributesOf(scene_, envelope);
        for (int i = 0; i < 2; ++i)
            if (attributes[static_cast<std::size_t>(i)] < 0 ||
                attributes[static_cast<std::size_t>(i)] >= SCENE_BEHAVIOUR_COUNT)
                problems_.Add(where() + ": envelope attribute " + std::to_string(i) +
                              " is not a behaviour 0 to 5");
        if (attributes[2] != 0) problems_.Add(where() + ": envelope attribute 2 is not zero");
        text += style.behavioursIndent + "Behaviors " + std::to_string(attributes[0]) + " " +
                std::to_string(attributes[1]) + end + style.closeLine + end;
        return text;
    }

    const SceneFile &file_;
    const SceneFile::Layout &layout_;
    const SceneFile::Layout::Source &source_;
    const Scene &scene_;
    const SceneFile::Sink &sink_;
    const SceneFile::Progress &progress_;
    std::size_t written_ = 0;
    Problems problems_;
};

}  // namespace

void SceneFile::Write(const Scene &scene, const Sink &sink, const Progress &progress) const {
    Writer(*this, *layout_, scene, sink, progress).Write();
}

std::string SceneFile::Write(const Scene &scene) const {
    std::string out;
    out.reserve(layout_->source.Size());
    Write(scene, [&out](std::string_view bytes) { out += bytes; });
    return out;
}

}  // namespace standin
