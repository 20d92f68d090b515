// Which items of a scene file tamberlo-scene selects: the names and shell
// patterns of --from and --to, or the pairs of a --map file, turned into the
// items in the order the module gets them.
#pragma once

#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "scenefile/scene_file.h"

namespace apps {

// Words of the user that select no items, or the wrong ones; the message says
// which words and why, and Why() what kind of fault it is, for callers that
// answer each kind otherwise (the Python package raises KeyError, ValueError
// or OSError).
class SelectionError : public std::runtime_error {
  public:
    enum class Reason {
        NotFound,    // a name or pattern the scene has no item (or channel) for, or several
        Malformed,   // words that cannot select as they stand: a map's bad line, an item twice
        Unreadable,  // a map file that cannot be read
    };
    SelectionError(Reason why, const std::string &what) : std::runtime_error(what), why_(why) {}
    Reason Why() const { return why_; }

  private:
    Reason why_;
};

// Items in selection order.
struct Selection {
    std::vector<host::ItemId> items;
    // What the selection holds, for the summary: the names as the user typed
    // them when each was named exactly, otherwise the count and the first and
    // last item, since a pattern or a map may select a whole rig.
    std::string summary;
};

// The items of `scene` whose name is `name` (the file's bytes, or their
// UTF-8 reading when the file holds Shift_JIS), in the scene's order.
std::vector<const standin::SceneFile::Item *> NamedItems(const standin::SceneFile &scene,
                                                         std::string_view name);

// The one item of `scene` whose name is `name`, as NamedItems() finds it. An
// unknown name lists the scene's items; a name two items share gives their
// lines.
const standin::SceneFile::Item &FindNamedItem(const standin::SceneFile &scene,
                                              std::string_view name);

// The name of an item as the panels show it, in UTF-8.
std::string ShownName(const standin::SceneFile::Item &item);

// The items that the entries of `option` (--from or --to) select, in the
// entries' order. An entry holding an unescaped `*`, `?` or `[` is a shell
// pattern for fnmatch(3), contributing every item it matches in the scene's
// order, and matching nothing is an error. Any other entry names one item
// exactly: as it stands when it holds none of `*?[`, or with its backslashes
// taken away when it holds them escaped (`Star\*` names "Star*"). An item
// selected twice is an error.
Selection SelectItems(const standin::SceneFile &scene, std::span<const std::string> entries,
                      std::string_view option);

// A --map file: one `source target` pair a line, names quoted with double
// quotes when they hold a space or a `#`, `#` outside quotes starting a
// comment, blank lines ignored. Its names are exact: a `*` in them is a `*`.
struct ItemMap {
    struct Pair {
        int line = 0;  // from 1
        std::string source, target;
    };
    std::string path;
    std::vector<Pair> pairs;  // in the file's order
};

// The map in `text`; `path` names it in messages, each with the line at fault.
ItemMap ParseItemMap(std::string_view text, std::string path);
// The map in the file at `path`.
ItemMap ReadItemMap(const std::string &path);

enum class MapSide { Source, Target };

// The sources (in the source scene) or the targets (in the target scene) of
// a map, in its line order. An unknown or ambiguous name, and an item named
// on two lines of one side, are errors naming the map's lines.
Selection SelectMapped(const standin::SceneFile &scene, const ItemMap &map, MapSide side);

}  // namespace apps
