#include "transfer/item_selection.h"

#include <fnmatch.h>
#include <locale.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "standin/text.h"

namespace apps {

namespace {

using Item = standin::SceneFile::Item;

constexpr std::string_view PATTERN_CHARACTERS = "*?[";

// fnmatch in the "C" locale reads byte by byte, so `?` would match a third of
// a Japanese character. Under a UTF-8 character type it matches a whole one,
// and glibc still matches names that are not UTF-8 (Shift_JIS bytes) byte by
// byte. Only this thread's locale changes, and only while it lives.
class Utf8Matching {
  public:
    Utf8Matching()
        : utf8_(newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr)),
          previous_(utf8_ ? uselocale(utf8_) : nullptr) {}
    ~Utf8Matching() {
        if (!utf8_) return;
        uselocale(previous_);
        freelocale(utf8_);
    }
    Utf8Matching(const Utf8Matching &) = delete;
    Utf8Matching &operator=(const Utf8Matching &) = delete;

  private:
    locale_t utf8_;
    locale_t previous_;
};

// A name as the user typed it (UTF-8) against an item's name in the file,
// which is either UTF-8 already or Shift_JIS, as Japanese Layout writes it.
bool NameMatches(std::string_view typed, const std::string &fileName) {
    return typed == fileName || typed == standin::Utf8FromCp932(fileName);
}

bool PatternMatches(const std::string &pattern, const std::string &fileName) {
    return fnmatch(pattern.c_str(), fileName.c_str(), 0) == 0 ||
           fnmatch(pattern.c_str(), standin::Utf8FromCp932(fileName).c_str(), 0) == 0;
}

bool IsPattern(std::string_view entry) {
    for (std::size_t at = 0; at < entry.size(); ++at) {
        if (entry[at] == '\\')
            ++at;
        else if (PATTERN_CHARACTERS.find(entry[at]) != std::string_view::npos)
            return true;
    }
    return false;
}

// The name an entry without unescaped pattern characters stands for. Names
// without `*?[` are taken as they stand, so that a name holding a backslash
// is typed as it always was.
std::string ExactName(std::string_view entry) {
    if (entry.find_first_of(PATTERN_CHARACTERS) == std::string_view::npos)
        return std::string(entry);
    std::string name;
    for (std::size_t at = 0; at < entry.size(); ++at) {
        if (entry[at] == '\\' && at + 1 < entry.size()) ++at;
        name += entry[at];
    }
    return name;
}

std::string Quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

std::string Summary(const standin::SceneFile &scene, const std::vector<host::ItemId> &items) {
    const auto shown = [&scene](host::ItemId id) {
        for (const Item &item : scene.Items())
            if (item.id == id) return ShownName(item);
        return std::string();
    };
    switch (items.size()) {
        case 0:
            return "no items";
        case 1:
            return "1 item (" + shown(items.front()) + ")";
        case 2:
            return "2 items (" + shown(items.front()) + " and " + shown(items.back()) + ")";
        default:
            return std::to_string(items.size()) + " items (" + shown(items.front()) + " to " +
                   shown(items.back()) + ")";
    }
}

}  // namespace

std::string ShownName(const Item &item) {
    return standin::Utf8FromCp932(item.name);
}

std::vector<const Item *> NamedItems(const standin::SceneFile &scene, std::string_view name) {
    std::vector<const Item *> found;
    for (const Item &item : scene.Items())
        if (NameMatches(name, item.name)) found.push_back(&item);
    return found;
}

const Item &FindNamedItem(const standin::SceneFile &scene, std::string_view name) {
    const std::vector<const Item *> found = NamedItems(scene, name);
    if (found.empty()) {
        std::string names;
        for (const Item &item : scene.Items())
            names += (names.empty() ? "" : ", ") + ShownName(item);
        throw SelectionError(
            SelectionError::Reason::NotFound,
            scene.FileName() + " has no item named " + Quoted(name) + "; its items are: " + names);
    }
    if (found.size() > 1) {
        std::string lines;
        for (const Item *item : found)
            lines += (lines.empty() ? "" : ", ") + std::to_string(item->line);
        throw SelectionError(SelectionError::Reason::NotFound,
                             scene.FileName() + " has " + std::to_string(found.size()) +
                                 " items named " + Quoted(name) + " (lines " + lines +
                                 "); the tool cannot tell which one is meant");
    }
    return *found.front();
}

Selection SelectItems(const standin::SceneFile &scene, std::span<const std::string> entries,
                      std::string_view option) {
    const Utf8Matching utf8;
    Selection selection;
    std::vector<std::size_t> selectedBy;  // the entry that selected each item
    bool anyPattern = false;
    const auto select = [&](const Item &item, std::size_t entry) {
        const auto seen = std::find(selection.items.begin(), selection.items.end(), item.id);
        if (seen != selection.items.end()) {
            const std::string &first = entries[selectedBy[seen - selection.items.begin()]];
            if (first == entries[entry])
                throw SelectionError(SelectionError::Reason::Malformed,
                                     Quoted(first) + " is named twice in " + std::string(option) +
                                         "; an item is selected once");
            throw SelectionError(SelectionError::Reason::Malformed,
                                 std::string(option) + " selects " + Quoted(ShownName(item)) +
                                     " twice, by " + Quoted(first) + " and by " +
                                     Quoted(entries[entry]) + "; an item is selected once");
        }
        selection.items.push_back(item.id);
        selectedBy.push_back(entry);
    };
    for (std::size_t entry = 0; entry < entries.size(); ++entry) {
        if (!IsPattern(entries[entry])) {
            select(FindNamedItem(scene, ExactName(entries[entry])), entry);
            continue;
        }
        anyPattern = true;
        const std::size_t before = selection.items.size();
        for (const Item &item : scene.Items())
            if (PatternMatches(entries[entry], item.name)) select(item, entry);
        if (selection.items.size() == before)
            throw SelectionError(SelectionError::Reason::NotFound,
                                 std::string(option) + " pattern " + Quoted(entries[entry]) +
                                     " matches no item of " + scene.FileName());
    }
    if (!anyPattern)
        for (const std::string &entry : entries)
            selection.summary += (selection.summary.empty() ? "" : ", ") + entry;
    else
        selection.summary = Summary(scene, selection.items);
    return selection;
}

ItemMap ParseItemMap(std::string_view text, std::string path) {
    ItemMap map{std::move(path), {}};
    // Editors on Windows may begin a UTF-8 file with a byte order mark.
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    int number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.ends_with('\r')) line.remove_suffix(1);
        const auto malformed = [&](const std::string &why) {
            return SelectionError(SelectionError::Reason::Malformed,
                                  map.path + ":" + std::to_string(number) + ": " + why);
        };
        std::vector<std::string> names;
        for (std::size_t at = line.find_first_not_of(" \t");
             at != std::string_view::npos && line[at] != '#';
             at = line.find_first_not_of(" \t", at)) {
            std::size_t next;
            if (line[at] == '"') {
                const std::size_t close = line.find('"', at + 1);
                if (close == std::string_view::npos) throw malformed("a quote is not closed");
                names.emplace_back(line.substr(at + 1, close - at - 1));
                next = close + 1;
            } else {
                next = std::min(line.find_first_of(" \t#\"", at), line.size());
                names.emplace_back(line.substr(at, next - at));
            }
            if (next < line.size() &&
                std::string_view(" \t#").find(line[next]) == std::string_view::npos)
                throw malformed("a quote stands inside a name; quote the whole name");
            at = next;
        }
        if (names.empty()) continue;
        if (names.size() != 2)
            throw malformed(
                "a line holds two names, a source and a target (quoted when they "
                "hold a space), not " +
                std::to_string(names.size()));
        map.pairs.push_back({number, std::move(names[0]), std::move(names[1])});
    }
    if (map.pairs.empty())
        throw SelectionError(SelectionError::Reason::Malformed,
                             map.path + " holds no pair of names");
    return map;
}

ItemMap ReadItemMap(const std::string &path) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored))
        throw SelectionError(SelectionError::Reason::Unreadable,
                             "cannot open the map " + path + ": it is a folder");
    std::ifstream stream(path, std::ios::binary);
    if (!stream)
        throw SelectionError(SelectionError::Reason::Unreadable,
                             "cannot open the map " + path + ": " + std::strerror(errno));
    std::ostringstream text;
    text << stream.rdbuf();
    if (stream.bad())
        throw SelectionError(SelectionError::Reason::Unreadable, "cannot read the map " + path);
    return ParseItemMap(text.view(), path);
}

Selection SelectMapped(const standin::SceneFile &scene, const ItemMap &map, MapSide side) {
    const char *role = side == MapSide::Source ? "source" : "target";
    Selection selection;
    std::vector<int> lines;  // the map line of each item
    for (const ItemMap::Pair &pair : map.pairs) {
        const std::string &name = side == MapSide::Source ? pair.source : pair.target;
        const std::string where = map.path + ":" + std::to_string(pair.line) + ": ";
        host::ItemId item;
        try {
            item = FindNamedItem(scene, name).id;
        } catch (const SelectionError &error) {
            throw SelectionError(error.Why(), where + error.what());
        }
        const auto seen = std::find(selection.items.begin(), selection.items.end(), item);
        if (seen != selection.items.end())
            throw SelectionError(SelectionError::Reason::Malformed,
                                 where + "names the " + role + " " + Quoted(name) +
                                     " again, first named on line " +
                                     std::to_string(lines[seen - selection.items.begin()]));
        selection.items.push_back(item);
        lines.push_back(pair.line);
    }
    selection.summary = Summary(scene, selection.items);
    return selection;
}

}  // namespace apps
