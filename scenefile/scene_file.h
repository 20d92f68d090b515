// scenefile/: scene files read into the stand-in's scene and written back.
//
// LightWave scene files (text, "LWSC", versions 3 to 5) read into the
// stand-in's scene and written back from it.
//
// A motion-capture scene holds millions of keys, so reading keeps no text of
// the file and no copy of its keys: only where each motion block and channel
// block lies, and how many edits each envelope had when read. Writing gives
// back the very bytes of each part the scene still holds unchanged, read
// again from the file, which stays open meanwhile, and writes anew only the
// motion channels whose keys or behaviours changed (or that a paste created),
// in the style of the file's other channel blocks. Reading a file and writing
// it with no change in between therefore gives the same bytes.
//
#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "host/host_api.h"
#include "standin/scene.h"

namespace standin {

// A file that cannot be read, or a scene that the file format cannot hold.
// The message names the file, and the line where there is one. When the
// system refused to open or read the file, SystemError() is its errno value
// (ENOENT, EACCES, EISDIR...), so that callers can tell such a failure from a
// malformed file; otherwise it is 0.
class SceneFileError : public std::runtime_error {
  public:
    explicit SceneFileError(const std::string &what, int systemError = 0)
        : std::runtime_error(what), systemError_(systemError) {}
    int SystemError() const { return systemError_; }

  private:
    int systemError_;
};

enum class SceneItemKind { Object, Light, Camera, Bone };

// The nine motion channels of an item, by their index in the file.
inline constexpr std::array<const char *, 9> MOTION_CHANNEL_NAMES = {
    "Position.X", "Position.Y", "Position.Z", "Rotation.H", "Rotation.P",
    "Rotation.B", "Scale.X",    "Scale.Y",    "Scale.Z"};

// The key shapes a file can hold, and the behaviours before and after the keys.
inline constexpr int SCENE_SHAPE_STEPPED = 4;
inline constexpr int SCENE_SHAPE_COUNT = 6;
inline constexpr int SCENE_BEHAVIOUR_COUNT = 6;

// A 32-bit integer as the shape slot holds it.
host::KeySlot ShapeSlot(int shape);
// The shape a slot holds; -1 when the slot holds no shape a file can hold.
int ShapeOfSlot(const host::KeySlot &slot);
// A double as the parameter slots from LWKEY_TENSION on hold it, and back.
host::KeySlot NumberSlot(double number);
double SlotNumber(const host::KeySlot &slot);

// "object", "light", "camera" or "bone".
const char *SceneItemKindName(SceneItemKind kind);

class SceneFile {
  public:
    struct Item {
        host::ItemId id = nullptr;
        std::string name;  // the file's bytes
        SceneItemKind kind = SceneItemKind::Object;
        int line = 0;  // where the item starts, from 1
    };

    // How far reading or writing has come: bytes done of the file's size
    // (0 while reading a pipe, whose size is not known).
    using Progress = std::function<void(std::size_t done, std::size_t total)>;
    // Takes the text of a written scene piece by piece, in order.
    using Sink = std::function<void(std::string_view bytes)>;

    // Reads the text of a scene file into `scene`, which must hold nothing
    // yet; `fileName` names the file in error messages. Throws
    // SceneFileError for a text that is not a scene file of versions 3 to 5
    // or whose motion is malformed.
    static SceneFile Read(std::string text, Scene &scene, std::string fileName);
    // Reads the file at `path` likewise, a piece at a time. The file stays
    // open for writing to read its unchanged parts again; one that is not a
    // regular file (a pipe) is read whole into memory instead.
    static SceneFile Load(const std::filesystem::path &path, Scene &scene,
                          const Progress &progress = {});

    // The text of the scene as it stands now. Throws SceneFileError, naming
    // each problem, when the scene holds something the format cannot: a
    // channel other than the nine, a key parameter or attribute without a
    // place in the file, a number that is not finite, an item the file does
    // not hold; and when the file read has changed since.
    std::string Write(const Scene &scene) const;
    // The same text, handed to `sink` as it is made, so that no second copy
    // of a large scene is held. It throws as the other does, possibly after
    // some of the text has gone to the sink, which the caller then discards.
    void Write(const Scene &scene, const Sink &sink, const Progress &progress = {}) const;

    int Version() const { return version_; }
    const std::string &FileName() const { return fileName_; }
    std::span<const Item> Items() const { return items_; }
    // The size of the text read, in bytes.
    std::size_t Size() const;

    ~SceneFile();
    SceneFile(SceneFile &&) noexcept;
    SceneFile &operator=(SceneFile &&) noexcept;

    struct Layout;

  private:
    SceneFile();
    std::string fileName_;
    int version_ = 0;
    std::vector<Item> items_;
    std::unique_ptr<Layout> layout_;  // where each motion block lies, and the bytes read
};

}  // namespace standin
