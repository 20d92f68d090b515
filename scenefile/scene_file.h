// scenefile/: scene files read into the stand-in's scene and written back.
//
// LightWave scene files (text, "LWSC", versions 3 to 5) read into the
// stand-in's scene and written back from it.
//
// Reading keeps every line of the file. Writing gives back the very bytes of
// each line whose content the scene still holds unchanged, and writes anew
// only the motion channels whose keys or behaviours changed (or that a paste
// created), in the style of the file's other channel blocks. Reading a file
// and writing it with no change in between therefore gives the same bytes.
//
// How the file's motion maps onto the host's envelopes:
//   Key <value> <time> <shape> <p1> <p2> <p3> <p4> <p5> <p6>
//     value -> LWKEY_VALUE, time (seconds) -> LWKEY_TIME (doubles);
//     shape -> LWKEY_SHAPE, a 32-bit integer 0..5 in the slot's first four
//              bytes (host byte order), the other four zero;
//     p1..p6 -> LWKEY_TENSION, LWKEY_CONTINUITY, LWKEY_BIAS, LWKEY_PARAM_0,
//              LWKEY_PARAM_1, LWKEY_PARAM_2 (doubles);
//     LWKEY_PARAM_3 has no place in the file: zero.
//   Behaviors <pre> <post> -> envelope attributes 0 and 1; attribute 2 has no
//     place in the file: zero.
#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/host_api.h"
#include "standin/scene.h"

namespace standin {

// A file that cannot be read, or a scene that the file format cannot hold.
// The message names the file, and the line where there is one.
class SceneFileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
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

class SceneFile {
  public:
    struct Item {
        host::ItemId id = nullptr;
        std::string name;  // the file's bytes
        SceneItemKind kind = SceneItemKind::Object;
        int line = 0;  // where the item starts, from 1
    };

    // Reads the text of a scene file into `scene`, which must hold nothing
    // yet; `fileName` names the file in error messages. Throws
    // SceneFileError for a text that is not a scene file of versions 3 to 5
    // or whose motion is malformed.
    static SceneFile Read(std::string text, Scene &scene, std::string fileName);
    // Reads the file at `path` likewise.
    static SceneFile Load(const std::filesystem::path &path, Scene &scene);

    // The text of the scene as it stands now. Throws SceneFileError, naming
    // each problem, when the scene holds something the format cannot: a
    // channel other than the nine, a key parameter or attribute without a
    // place in the file, a number that is not finite, an item the file does
    // not hold.
    std::string Write(const Scene &scene) const;

    int Version() const { return version_; }
    const std::string &FileName() const { return fileName_; }
    std::span<const Item> Items() const { return items_; }

    ~SceneFile();
    SceneFile(SceneFile &&) noexcept;
    SceneFile &operator=(SceneFile &&) noexcept;

    struct Layout;

  private:
    SceneFile();
    std::string fileName_;
    std::string text_;
    int version_ = 0;
    std::vector<Item> items_;
    std::unique_ptr<Layout> layout_;  // where each line and motion block is
};

}  // namespace standin
