// transfer/: motion moved between scene files through the module's own
// panels: what tamberlo-scene and the Python package share.
//
// The copy and the paste commands, activated in the stand-in host of a
// loaded scene and answered as a person in Layout would: the items selected,
// the copy panel's frames typed and its channels and groups switched, the
// paste's start frame typed, each panel confirmed. What a command showed the
// user and how it ended come back whole, so that a program can print them
// before it judges them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "output/paste_snapshot.h"
#include "output/replace_file.h"
#include "standin/standin.h"
#include "transfer/loaded_scene.h"
#include "transfer/progress.h"

namespace apps {

// One act on the copy panel, for one of the copied items.
struct PanelAct {
    enum class Kind { SwitchOff, SwitchOn, Toggle } kind = Kind::SwitchOff;
    std::string item;
    std::string what;  // a channel, or a group
};

// An act as a user writes it, ITEM:CHANNEL, or ITEM:GROUP for a toggle,
// split at the last colon, since an item's name may hold one. Throws
// std::invalid_argument for text of another form.
PanelAct ParsePanelAct(PanelAct::Kind kind, const std::string &text);

struct FrameRange {
    int first = 0;
    int last = 0;
};

// FIRST:LAST, two whole frame numbers; throws std::invalid_argument.
FrameRange ParseFrames(const std::string &text);

// What the user does on the copy panel: types the frames (without them the
// range the panel offers stays), then each act in turn, then confirms.
struct CopyChoices {
    std::optional<FrameRange> frames;
    std::vector<PanelAct> acts;
};

// Checks before the copy that each act names one of the copied items of
// `source` and, for a switch, a channel that item has: an unknown item or
// channel is a SelectionError NotFound, an item not copied one Malformed.
void CheckActs(std::span<const PanelAct> acts, const LoadedScene &source,
               std::span<const host::ItemId> copied);

// What one activation showed the user and how it ended.
struct CommandReport {
    std::string server;
    int result = 0;                            // what the activation returned
    std::vector<std::string> shown;            // the transcript it added, UTF-8
    std::vector<standin::Violation> breaches;  // of the host contract, in order
    std::string refusal;     // the module's message, UTF-8; empty when it showed none
    std::string failure;     // what the user could not do on the panel; empty when none
    bool confirmed = false;  // the command's panel opened and was confirmed
};

// A command that did not end as the user meant it to. The message is what
// tamberlo-scene says; the report holds the rest.
class CommandFailed : public std::runtime_error {
  public:
    enum class Reason { ContractBreach, Refused, PanelFailure, NotConfirmed };
    CommandFailed(Reason why, const std::string &what, CommandReport report)
        : std::runtime_error(what), why_(why), report_(std::move(report)) {}
    Reason Why() const { return why_; }
    const CommandReport &Report() const { return report_; }

  private:
    Reason why_;
    CommandReport report_;
};

// Throws CommandFailed when the module broke the host contract, refused with
// a message, the user could not do what was asked on the panel, or the panel
// was not confirmed, judged in that order.
void CheckCommand(const CommandReport &report);

// `activate "SERVER" -> RESULT` and what the user saw, a line each, indented.
void PrintCommand(std::ostream &out, const CommandReport &report);

// The copy: `items` selected in `source` in that order, the copy command
// activated, its panel worked as `choices` say and confirmed. The module's
// clipboard then holds the motion, for any scene to paste.
struct CopyRun {
    CommandReport report;
    FrameRange frames;  // what the panel held when it was confirmed
};
CopyRun RunCopy(LoadedScene &source, const standin::LoadedModule &module,
                const std::vector<host::ItemId> &items, const CopyChoices &choices,
                ProgressLine &progress);

// The paste: `items` selected in `target`, the paste command activated, the
// start frame typed (without `at` the offered one stays) and confirmed.
struct PasteRun {
    CommandReport report;
    int start = 0;  // the frame the paste started at
    // The channels of the items that the paste changed or created, their
    // items named as the panels show them.
    std::vector<PlottedChannel> changed;
};
PasteRun RunPaste(LoadedScene &target, const standin::LoadedModule &module,
                  const std::vector<host::ItemId> &items, std::optional<int> at,
                  ProgressLine &progress);

// The last frame of the pasted window: the start plus the copied span. It
// may lie past the frames an int holds: the module computes it wider, and so
// does the picture.
std::int64_t PastedWindowLast(FrameRange copied, int start);

// "pasted frames 10 to 40 at frame 30; channels changed: 2" and a line for
// each changed channel with its keys before and after.
void PrintChanges(std::ostream &out, FrameRange copied, int start,
                  std::span<const PlottedChannel> changed);

// The picture's title for a paste from one scene file into another.
std::string PasteTitle(const std::string &sourcePath, const std::string &targetPath);

// Draws the picture of the paste into `svg`, which the caller puts in place;
// the indices of the changed channels it leaves out. Where this build has no
// PLplot, throws std::runtime_error saying so.
std::vector<std::size_t> DrawPaste(const ReplacementFile &svg,
                                   std::span<const PlottedChannel> changed, FrameRange copied,
                                   int start, const std::string &title, ProgressLine &progress);

}  // namespace apps
