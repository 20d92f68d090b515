// Scenes, their items and channels, and a channel's keys as NumPy arrays.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "python/binding.h"
#include "scenefile/file_keys.h"
#include "scenefile/scene_file.h"
#include "standin/text.h"
#include "transfer/item_selection.h"

namespace tamberlo_python {

namespace {

using standin::FileKey;
using Item = standin::SceneFile::Item;

constexpr const char *KEY_FIELDS[] = {"time", "value",   "shape",   "tension", "continuity",
                                      "bias", "param_0", "param_1", "param_2"};

// An item of a scene, by its place in the file.
struct ItemRef {
    ScenePtr scene;
    std::size_t index;

    const Item &Get() const { return scene->file.Items()[index]; }
    std::string Name() const { return apps::ShownName(Get()); }
};

// The items of a scene, in the file's order, also found by name.
struct ItemsView {
    ScenePtr scene;
};

// A channel of an item. A paste may add channels to an item, so each look
// asks the scene again.
struct ChannelRef {
    ItemRef item;
    host::ChannelId id;

    standin::Scene &Scene() const { return item.scene->host->Scene(); }
    standin::ChannelState State() const {
        for (const standin::ChannelState &state : Scene().Channels(item.Get().id))
            if (state.id == id) return state;
        throw std::logic_error("a channel left its item");
    }
    host::EnvelopeId Envelope() const {
        const host::EnvelopeId envelope = State().envelope;
        if (envelope == nullptr) throw std::logic_error("the channel has no envelope");
        return envelope;
    }
};

// The channels of an item, in the scene's order, also found by name.
struct ChannelsView {
    ItemRef item;
};

ItemRef ItemAt(const ScenePtr &scene, std::ptrdiff_t index) {
    const auto count = static_cast<std::ptrdiff_t>(scene->file.Items().size());
    if (index < 0) index += count;
    if (index < 0 || index >= count)
        throw py::index_error("the scene has no item " + std::to_string(index));
    return {scene, static_cast<std::size_t>(index)};
}

ItemRef ItemNamed(const ScenePtr &scene, const std::string &name) {
    const Item &item = apps::FindNamedItem(scene->file, name);
    return {scene, static_cast<std::size_t>(&item - scene->file.Items().data())};
}

std::vector<standin::ChannelState> ChannelsOf(const ItemRef &item) {
    return item.scene->host->Scene().Channels(item.Get().id);
}

ChannelRef ChannelAt(const ItemRef &item, std::ptrdiff_t index) {
    const std::vector<standin::ChannelState> channels = ChannelsOf(item);
    const auto count = static_cast<std::ptrdiff_t>(channels.size());
    if (index < 0) index += count;
    if (index < 0 || index >= count)
        throw py::index_error(item.Name() + " has no channel " + std::to_string(index));
    return {item, channels[static_cast<std::size_t>(index)].id};
}

ChannelRef ChannelNamed(const ItemRef &item, const std::string &name) {
    const std::optional<host::ChannelId> found =
        item.scene->host->Scene().FindChannel(item.Get().id, name);
    if (found) return {item, *found};
    std::string names;
    for (const standin::ChannelState &channel : ChannelsOf(item))
        names += (names.empty() ? "" : ", ") + channel.name;
    throw py::key_error(item.Name() + " has no channel \"" + name +
                        "\"; its channels are: " + (names.empty() ? "none" : names));
}

// Sets one of a channel's behaviours, the other kept.
void SetBehaviour(const ChannelRef &channel, int standin::Behaviours::*which, int behaviour) {
    standin::Behaviours behaviours =
        standin::EnvelopeBehaviours(channel.Scene(), channel.Envelope());
    behaviours.*which = behaviour;
    standin::SetEnvelopeBehaviours(channel.Scene(), channel.Envelope(), behaviours);
}

const char *TypeName(int type) {
    switch (type) {
        case host::CHANNEL_TYPE_DISTANCE:
            return "distance";
        case host::CHANNEL_TYPE_PERCENT:
            return "percent";
        case host::CHANNEL_TYPE_ANGLE:
            return "angle";
        default:
            return "number";
    }
}

py::dtype KeyDtype() {
    return py::dtype::of<FileKey>();
}

// The keys as a NumPy array of KEY_DTYPE, its padding zero so that equal
// keys are equal bytes.
py::array_t<FileKey> KeysArray(const std::vector<FileKey> &keys) {
    py::array_t<FileKey> array(static_cast<py::ssize_t>(keys.size()));
    std::memset(static_cast<void *>(array.mutable_data()), 0, keys.size() * sizeof(FileKey));
    auto rows = array.mutable_unchecked<1>();
    for (std::size_t k = 0; k < keys.size(); ++k) {
        FileKey &row = rows(static_cast<py::ssize_t>(k));
        const FileKey &key = keys[k];
        row.time = key.time;
        row.value = key.value;
        row.shape = key.shape;
        row.tension = key.tension;
        row.continuity = key.continuity;
        row.bias = key.bias;
        row.param0 = key.param0;
        row.param1 = key.param1;
        row.param2 = key.param2;
    }
    return array;
}

std::string FieldList() {
    std::string text;
    for (const char *field : KEY_FIELDS) text += (text.empty() ? "" : ", ") + std::string(field);
    return text;
}

// The keys of a one-dimensional structured array with the fields of
// KEY_DTYPE, in any order and of any numeric type that holds their numbers
// exactly: the shapes whole numbers, the others real.
std::vector<FileKey> KeysFrom(const py::handle &given) {
    const py::array array = py::array::ensure(given);
    py::object names = py::none();
    if (array) names = array.dtype().attr("names");
    if (names.is_none())
        throw py::type_error("keys are a NumPy structured array with the fields " + FieldList() +
                             " (tamberlo.KEY_DTYPE)");
    const py::set have(names), want(KeyDtype().attr("names"));
    if (!have.equal(want))
        throw py::value_error("keys need exactly the fields " + FieldList() + ", not " +
                              py::str(names).cast<std::string>());
    if (array.ndim() != 1) throw py::value_error("keys are a one-dimensional array");
    py::array_t<FileKey> packed(array.shape(0));
    for (const char *field : KEY_FIELDS) {
        const py::array column = array[py::str(field)];
        const char kind = column.dtype().kind();
        const bool whole = kind == 'i' || kind == 'u';
        if (std::string_view(field) == "shape" ? !whole : !(whole || kind == 'f'))
            throw py::value_error(std::string("the field ") + field + " holds " +
                                  py::str(column.dtype()).cast<std::string>() +
                                  (std::string_view(field) == "shape" ? "; shapes are whole numbers"
                                                                      : "; it takes numbers"));
        packed[py::str(field)] = column;
    }
    // A shape that 32 bits cannot hold would have wrapped into one that may look valid.
    const py::array wrapped = py::module_::import("numpy").attr("not_equal")(
        packed[py::str("shape")], array[py::str("shape")]);
    if (wrapped.attr("any")().cast<bool>()) {
        const auto index = wrapped.attr("argmax")().cast<py::ssize_t>();
        throw py::value_error(
            "key " + std::to_string(index) + ": its shape " +
            py::str(array[py::str("shape")][py::int_(index)]).cast<std::string>() +
            " is not one of 0 to 5");
    }
    const auto rows = packed.unchecked<1>();
    std::vector<FileKey> keys(static_cast<std::size_t>(rows.shape(0)));
    for (py::ssize_t k = 0; k < rows.shape(0); ++k) keys[static_cast<std::size_t>(k)] = rows(k);
    return keys;
}

std::string Repr(const ItemRef &item) {
    return "<tamberlo.Item " + py::repr(py::str(item.Name())).cast<std::string>() + ": " +
           standin::SceneItemKindName(item.Get().kind) + ", " +
           std::to_string(ChannelsOf(item).size()) + " channels, line " +
           std::to_string(item.Get().line) + " of " + item.scene->path + ">";
}

std::string Repr(const ChannelRef &channel) {
    const standin::ChannelState state = channel.State();
    std::string text =
        "<tamberlo.Channel " + channel.item.Name() + " " + state.name + ": " + TypeName(state.type);
    if (state.envelope != nullptr) {
        const std::size_t keys = channel.Scene().KeyCount(state.envelope);
        const standin::Behaviours behaviours =
            standin::EnvelopeBehaviours(channel.Scene(), state.envelope);
        text += ", " + std::to_string(keys) + (keys == 1 ? " key" : " keys") + ", behaviours " +
                std::to_string(behaviours.pre) + " " + std::to_string(behaviours.post);
    }
    return text + ">";
}

std::string Repr(const apps::LoadedScene &scene) {
    const standin::Scene &s = scene.host->Scene();
    std::ostringstream text;
    text << "<tamberlo.Scene " << py::repr(py::str(scene.path)).cast<std::string>()
         << ": format version " << scene.file.Version() << ", " << scene.file.Items().size()
         << " items, frames " << s.FrameStart() << " to " << s.FrameEnd() << " at "
         << s.FramesPerSecond() << " frames per second>";
    return text.str();
}

}  // namespace

void BindScenes(py::module_ &module) {
    PYBIND11_NUMPY_DTYPE_EX(FileKey, time, "time", value, "value", shape, "shape", tension,
                            "tension", continuity, "continuity", bias, "bias", param0, "param_0",
                            param1, "param_1", param2, "param_2");
    module.attr("KEY_DTYPE") = KeyDtype();
    py::tuple channelNames(standin::MOTION_CHANNEL_NAMES.size());
    for (std::size_t c = 0; c < standin::MOTION_CHANNEL_NAMES.size(); ++c)
        channelNames[c] = py::str(standin::MOTION_CHANNEL_NAMES[c]);
    module.attr("CHANNEL_NAMES") = channelNames;

    py::class_<apps::LoadedScene, ScenePtr>(
        module, "Scene",
        Doc("A LightWave scene file read into a stand-in Layout host of its own, as Layout "
            "holds one scene at a time; tamberlo.read_scene() reads one. Its items are "
            "scene.items. The file stays open while the scene lives: writing gives back the "
            "bytes of every unchanged part from it."))
        .def_property_readonly(
            "path", [](const apps::LoadedScene &scene) { return scene.path; },
            Doc("The path the scene was read from, as it was given."))
        .def_property_readonly(
            "version", [](const apps::LoadedScene &scene) { return scene.file.Version(); },
            Doc("The file's format version, 3 to 5."))
        .def_property_readonly(
            "frames",
            [](const apps::LoadedScene &scene) {
                const standin::Scene &s = scene.host->Scene();
                return py::make_tuple(s.FrameStart(), s.FrameEnd());
            },
            Doc("(first, last): the scene's FirstFrame and LastFrame, the range the copy "
                "panel offers."))
        .def_property_readonly(
            "frames_per_second",
            [](const apps::LoadedScene &scene) { return scene.host->Scene().FramesPerSecond(); },
            Doc("The scene's FramesPerSecond, which may be fractional (29.97)."))
        .def_property_readonly(
            "items", [](const ScenePtr &scene) { return ItemsView{scene}; },
            Doc("The items in the file's order: scene.items[0], scene.items['Dancer'], "
                "len(scene.items), 'Dancer' in scene.items, for item in scene.items."))
        .def(
            "write",
            [](const apps::LoadedScene &scene, const std::filesystem::path &path) {
                try {
                    apps::WriteSceneTo(scene, path.string(), Quiet());
                } catch (const standin::SceneFileError &) {
                    throw;
                } catch (const std::runtime_error &failure) {
                    RaiseOSError(failure.what());
                }
            },
            py::arg("path"),
            Doc("write(path: str | os.PathLike) -> None\n\n"
                "Writes the scene to `path` whole or not at all: the text goes to a new file "
                "beside it, which replaces the file only once complete, so a failure leaves "
                "the file as it was. Unchanged parts keep the bytes they were read with, so a "
                "scene read and written with no change is the same file.\n\n"
                "Raises SceneFileError, naming every place, when the scene holds what the "
                "format cannot, or when the file read has changed on disk since; OSError when "
                "the file cannot be written."))
        .def("__repr__", [](const apps::LoadedScene &scene) { return Repr(scene); });

    py::class_<ItemsView>(
        module, "Items",
        Doc("The items of a scene in the file's order, also found by name. A name is matched "
            "against the file's bytes and their UTF-8 reading when the file holds Shift_JIS."))
        .def(
            "__len__", [](const ItemsView &items) { return items.scene->file.Items().size(); },
            Doc("len(items) -> int\n\nThe number of items."))
        .def(
            "__getitem__",
            [](const ItemsView &items, std::ptrdiff_t index) { return ItemAt(items.scene, index); },
            py::arg("index"),
            Doc("items[index: int] -> Item\n\nThe item at `index` in the file's order, "
                "negative from the end; IndexError past either end.\n"))
        .def(
            "__getitem__",
            [](const ItemsView &items, const std::string &name) {
                return ItemNamed(items.scene, name);
            },
            py::arg("name"),
            Doc("items[name: str] -> Item\n\nThe one item named `name`. KeyError names an "
                "unknown name with the scene's items, or a name two items share with their "
                "lines."))
        .def(
            "__contains__",
            [](const ItemsView &items, const std::string &name) {
                return !apps::NamedItems(items.scene->file, name).empty();
            },
            py::arg("name"), Doc("name in items -> bool\n\nWhether an item is named `name`."))
        .def(
            "__iter__",
            [](const ItemsView &items) {
                py::list all;
                for (std::size_t i = 0; i < items.scene->file.Items().size(); ++i)
                    all.append(ItemRef{items.scene, i});
                return py::iter(all);
            },
            Doc("iter(items) -> Iterator[Item]\n\nThe items in the file's order."))
        .def("__repr__", [](const ItemsView &items) {
            std::string names;
            for (const Item &item : items.scene->file.Items())
                names += (names.empty() ? "" : ", ") +
                         py::repr(py::str(apps::ShownName(item))).cast<std::string>();
            return "<tamberlo.Items of " + items.scene->path + ": " + names + ">";
        });

    py::class_<ItemRef>(module, "Item",
                        Doc("An item of a scene: an object, a light, a camera or a bone, and "
                            "its motion channels."))
        .def_property_readonly("name", &ItemRef::Name,
                               Doc("The item's name as the panels show it, in UTF-8 (an "
                                   "object's is its file's base name)."))
        .def_property_readonly(
            "kind", [](const ItemRef &item) { return standin::SceneItemKindName(item.Get().kind); },
            Doc("'object', 'light', 'camera' or 'bone'."))
        .def_property_readonly(
            "line", [](const ItemRef &item) { return item.Get().line; },
            Doc("The line of the file where the item starts, from 1."))
        .def_property_readonly(
            "scene", [](const ItemRef &item) { return item.scene; },
            Doc("The scene it belongs to."))
        .def_property_readonly(
            "channels", [](const ItemRef &item) { return ChannelsView{item}; },
            Doc("Its channels in the scene's order: item.channels['Position.X'], "
                "item.channels[0], len(item.channels), iteration. A paste may add some."))
        .def(
            "__eq__",
            [](const ItemRef &a, const ItemRef &b) {
                return a.scene == b.scene && a.index == b.index;
            },
            Doc("item == other -> bool\n\nWhether both are the same item of the same scene."))
        .def(
            "__hash__",
            [](const ItemRef &item) {
                return py::hash(
                    py::make_tuple(reinterpret_cast<std::uintptr_t>(item.scene.get()), item.index));
            },
            Doc("hash(item) -> int"))
        .def("__repr__", [](const ItemRef &item) { return Repr(item); });

    py::class_<ChannelsView>(module, "Channels",
                             Doc("The channels of an item in the scene's order, also found by "
                                 "name: Position.X to Scale.Z (tamberlo.CHANNEL_NAMES)."))
        .def(
            "__len__",
            [](const ChannelsView &channels) { return ChannelsOf(channels.item).size(); },
            Doc("len(channels) -> int\n\nThe number of channels."))
        .def(
            "__getitem__",
            [](const ChannelsView &channels, std::ptrdiff_t index) {
                return ChannelAt(channels.item, index);
            },
            py::arg("index"),
            Doc("channels[index: int] -> Channel\n\nThe channel at `index`, negative from "
                "the end; IndexError past either end.\n"))
        .def(
            "__getitem__",
            [](const ChannelsView &channels, const std::string &name) {
                return ChannelNamed(channels.item, name);
            },
            py::arg("name"),
            Doc("channels[name: str] -> Channel\n\nThe channel named `name`; KeyError names "
                "an unknown one with the item's channels."))
        .def(
            "__contains__",
            [](const ChannelsView &channels, const std::string &name) {
                return channels.item.scene->host->Scene()
                    .FindChannel(channels.item.Get().id, name)
                    .has_value();
            },
            py::arg("name"),
            Doc("name in channels -> bool\n\nWhether the item has a channel named `name`."))
        .def(
            "__iter__",
            [](const ChannelsView &channels) {
                py::list all;
                for (const standin::ChannelState &state : ChannelsOf(channels.item))
                    all.append(ChannelRef{channels.item, state.id});
                return py::iter(all);
            },
            Doc("iter(channels) -> Iterator[Channel]\n\nThe channels in the scene's order."))
        .def("__repr__", [](const ChannelsView &channels) {
            std::string names;
            for (const standin::ChannelState &state : ChannelsOf(channels.item))
                names += (names.empty() ? "" : ", ") + state.name;
            return "<tamberlo.Channels of " + channels.item.Name() + ": " + names + ">";
        });

    py::class_<ChannelRef>(module, "Channel",
                           Doc("A motion channel of an item: its keys, and what it does before "
                               "its first key and after its last."))
        .def_property_readonly(
            "name", [](const ChannelRef &channel) { return channel.State().name; },
            Doc("Position.X to Scale.Z."))
        .def_property_readonly(
            "item", [](const ChannelRef &channel) { return channel.item; },
            Doc("The item it belongs to."))
        .def_property_readonly(
            "type", [](const ChannelRef &channel) { return TypeName(channel.State().type); },
            Doc("How Layout shows its values: 'distance' (Position), 'angle' (Rotation, in "
                "radians), 'percent' (Scale) or 'number'."))
        .def_property(
            "keys",
            [](const ChannelRef &channel) {
                return KeysArray(standin::ReadFileKeys(channel.Scene(), channel.Envelope()));
            },
            [](const ChannelRef &channel, const py::handle &keys) {
                standin::ReplaceFileKeys(channel.Scene(), channel.State(), KeysFrom(keys));
            },
            Doc("The keys in time order: a new NumPy array of tamberlo.KEY_DTYPE at each "
                "read, bit for bit what the host holds. Its fields are a Key line's: time (in "
                "seconds), value, shape (0 TCB, 1 Hermite, 2 Bezier, 3 linear, 4 stepped, 5 "
                "2D Bezier), then tension, continuity and bias (LWKEY_TENSION, "
                "LWKEY_CONTINUITY, LWKEY_BIAS) and param_0 to param_2 (LWKEY_PARAM_0 to "
                "LWKEY_PARAM_2).\n\n"
                "Setting it replaces every key with those of a one-dimensional structured "
                "array with these fields, in any order and of any numeric types that hold "
                "them (whole numbers for shapes). They must be what a file holds: finite "
                "numbers, shapes 0 to 5, times strictly increasing. Otherwise ValueError "
                "names the first key at fault, and nothing changes."))
        .def_property(
            "pre",
            [](const ChannelRef &channel) {
                return standin::EnvelopeBehaviours(channel.Scene(), channel.Envelope()).pre;
            },
            [](const ChannelRef &channel, int pre) {
                SetBehaviour(channel, &standin::Behaviours::pre, pre);
            },
            Doc("What the channel does before its first key, the first number of the file's "
                "Behaviors (envelope attribute 0): 0 reset, 1 constant, 2 repeat, 3 "
                "oscillate, 4 offset repeat, 5 linear. Setting another raises ValueError."))
        .def_property(
            "post",
            [](const ChannelRef &channel) {
                return standin::EnvelopeBehaviours(channel.Scene(), channel.Envelope()).post;
            },
            [](const ChannelRef &channel, int post) {
                SetBehaviour(channel, &standin::Behaviours::post, post);
            },
            Doc("What the channel does after its last key (envelope attribute 1), as for "
                "pre."))
        .def(
            "__len__",
            [](const ChannelRef &channel) { return channel.Scene().KeyCount(channel.Envelope()); },
            Doc("len(channel) -> int\n\nThe number of keys."))
        .def("__repr__", [](const ChannelRef &channel) { return Repr(channel); });

    module.def(
        "read_scene",
        [](const std::filesystem::path &path) {
            return std::make_shared<apps::LoadedScene>(path.string(), Quiet());
        },
        py::arg("path"),
        Doc("read_scene(path: str | os.PathLike) -> Scene\n\n"
            "Reads the LightWave scene file (.lws, text, format versions 3 to 5) at `path` "
            "into a stand-in host of its own.\n\n"
            "Raises SceneFileError, with the file and line, for a file that is not such a "
            "scene, and OSError (FileNotFoundError, IsADirectoryError...) for one the system "
            "will not open."));
}

}  // namespace tamberlo_python
