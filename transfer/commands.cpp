#include "transfer/commands.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <utility>

#include "output/paste_snapshot.h"
#if TAMBERLO_HAS_PASTE_PLOT
#include "output/paste_plot.h"
#endif
#include "standin/text.h"
#include "transfer/item_selection.h"
#include "transfer/labels.h"

namespace apps {

namespace {

// The module's calls between two looks at the progress line: a few thousand
// calls take well under a millisecond.
constexpr std::uint64_t PROGRESS_CALLS = 1 << 14;

// What the user could not do on a panel, which ends its script.
class PanelError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The row of a list whose text, after `skip` leading characters, is `text`.
int RowOf(standin::PanelSession &panel, const char *list, std::string_view text,
          std::size_t skip = 0) {
    const std::vector<std::string> rows = panel.Rows(list);
    for (std::size_t row = 0; row < rows.size(); ++row)
        if (rows[row].size() >= skip && std::string_view(rows[row]).substr(skip) == text)
            return static_cast<int>(row);
    throw PanelError(std::string("the ") + list + " list shows no row \"" + std::string(text) +
                     "\"");
}

// The group popup entry a user names: its own text, or "others" and "all"
// for the two entries that are not channel names.
int GroupChoice(standin::PanelSession &panel, const std::string &group) {
    const std::vector<std::string> choices = panel.Control(labels::SWITCH_ALL).choices;
    const std::string wanted = group == "others" ? labels::OTHERS
                               : group == "all"  ? labels::ALL
                                                 : group;
    const auto found = std::find(choices.begin(), choices.end(), wanted);
    if (found == choices.end())
        throw PanelError("the group toggle has no entry \"" + group +
                         "\" (Position, Rotation, Scale, others, all)");
    return static_cast<int>(found - choices.begin());
}

// Activates one of the module's commands with `script` for its panel, and
// reports what the user saw. A script the module opened no panel for is
// dropped, so that a scene used again starts with no script left over.
CommandReport Activate(LoadedScene &scene, const standin::LoadedModule &module, const char *server,
                       standin::ScriptedUser::Script script, ProgressLine &progress) {
    standin::Host &host = *scene.host;
    const std::size_t shownBefore = host.Transcript().size();
    const std::size_t panelsBefore = host.Panels().size();
    host.ClearErrors();
    host.ClearViolations();
    host.User().Then(std::move(script));
    // How far the module has come shows only in the calls it makes.
    progress.Start(std::string_view(server) == COPY_SERVER ? "copying" : "pasting");
    host.ObserveCalls(PROGRESS_CALLS, [&progress](std::uint64_t calls) {
        progress.Update(calls, 0, "host calls");
    });
    const struct StopObserving {
        standin::Host &host;
        ~StopObserving() {
            host.ObserveCalls(0, nullptr);
            while (host.User().HasScript()) host.User().Next();
        }
    } stopObserving{host};
    CommandReport report;
    report.server = server;
    report.result = host.Activate(module, server);
    progress.End();
    report.shown.assign(host.Transcript().begin() + static_cast<std::ptrdiff_t>(shownBefore),
                        host.Transcript().end());
    report.breaches = host.Violations();
    if (!host.Errors().empty()) {
        const auto &[first, second] = host.Errors().front();
        report.refusal = standin::Utf8FromCp932(first);
        if (!second.empty()) report.refusal += " " + standin::Utf8FromCp932(second);
    }
    report.confirmed = host.Panels().size() > panelsBefore &&
                       host.Panels().back().outcome == standin::PanelOutcome::Confirm;
    return report;
}

}  // namespace

PanelAct ParsePanelAct(PanelAct::Kind kind, const std::string &text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size())
        throw std::invalid_argument("\"" + text + "\" should read ITEM:" +
                                    (kind == PanelAct::Kind::Toggle ? "GROUP" : "CHANNEL"));
    return PanelAct{kind, text.substr(0, colon), text.substr(colon + 1)};
}

// Two whole numbers and nothing else: no blanks, no plus sign, nothing after
// the last digit, so that a mistyped range is refused rather than read as
// some other range.
FrameRange ParseFrames(const std::string &text) {
    const char *const end = text.data() + text.size();
    FrameRange range;
    const auto [colon, firstError] = std::from_chars(text.data(), end, range.first);
    if (firstError == std::errc() && colon != end && *colon == ':') {
        const auto [after, lastError] = std::from_chars(colon + 1, end, range.last);
        if (lastError == std::errc() && after == end) return range;
    }
    throw std::invalid_argument("--frames takes FIRST:LAST, two whole frame numbers, not \"" +
                                text + "\"");
}

void CheckActs(std::span<const PanelAct> acts, const LoadedScene &source,
               std::span<const host::ItemId> copied) {
    for (const PanelAct &act : acts) {
        const host::ItemId item = FindNamedItem(source.file, act.item).id;
        if (std::find(copied.begin(), copied.end(), item) == copied.end())
            throw SelectionError(SelectionError::Reason::Malformed,
                                 "\"" + act.item + "\" is not one of the copied items (--from)");
        if (act.kind != PanelAct::Kind::Toggle && !source.host->Scene().FindChannel(item, act.what))
            throw SelectionError(SelectionError::Reason::NotFound,
                                 "\"" + act.item + "\" has no channel \"" + act.what + "\"");
    }
}

void CheckCommand(const CommandReport &report) {
    using Reason = CommandFailed::Reason;
    if (!report.breaches.empty())
        throw CommandFailed(Reason::ContractBreach, "the module broke the host contract", report);
    if (!report.refusal.empty())
        throw CommandFailed(Reason::Refused, "the module refused: " + report.refusal, report);
    if (!report.failure.empty()) throw CommandFailed(Reason::PanelFailure, report.failure, report);
    if (!report.confirmed)
        throw CommandFailed(Reason::NotConfirmed,
                            "the panel of \"" + report.server + "\" was not confirmed", report);
}

void PrintCommand(std::ostream &out, const CommandReport &report) {
    out << "activate \"" << report.server << "\" -> " << report.result << '\n';
    for (const std::string &line : report.shown) out << "    " << line << '\n';
}

CopyRun RunCopy(LoadedScene &source, const standin::LoadedModule &module,
                const std::vector<host::ItemId> &items, const CopyChoices &choices,
                ProgressLine &progress) {
    CopyRun run;
    std::string failure;
    source.host->Scene().Select(items);
    // The copy panel as the user works it: the frames typed, each act in
    // turn, then the confirmation.
    const auto script = [&choices, &source, &run, &failure](standin::PanelSession &panel) {
        try {
            if (choices.frames) {
                panel.Type(labels::START_FRAME, choices.frames->first);
                panel.Type(labels::END_FRAME, choices.frames->last);
            }
            for (const PanelAct &act : choices.acts) {
                const host::ItemId item = FindNamedItem(source.file, act.item).id;
                const std::string shown =
                    standin::Utf8FromCp932(source.host->Scene().ItemName(item));
                panel.Pick(labels::ITEM, RowOf(panel, labels::ITEM, shown));
                if (act.kind == PanelAct::Kind::Toggle) {
                    panel.Choose(labels::SWITCH_ALL, GroupChoice(panel, act.what));
                    continue;
                }
                // Rows read "* name" or "  name": the mark, a blank, the name.
                panel.Pick(labels::CHANNEL, RowOf(panel, labels::CHANNEL, act.what, 2));
                panel.SetBool(labels::ENABLED, act.kind == PanelAct::Kind::SwitchOn);
            }
            run.frames.first = static_cast<int>(panel.Control(labels::START_FRAME).value);
            run.frames.last = static_cast<int>(panel.Control(labels::END_FRAME).value);
            return standin::PanelOutcome::Confirm;
        } catch (const std::exception &error) {
            failure = error.what();
            return standin::PanelOutcome::Cancel;
        }
    };
    run.report = Activate(source, module, COPY_SERVER, script, progress);
    run.report.failure = failure;
    return run;
}

PasteRun RunPaste(LoadedScene &target, const standin::LoadedModule &module,
                  const std::vector<host::ItemId> &items, std::optional<int> at,
                  ProgressLine &progress) {
    PasteRun run;
    standin::Scene &scene = target.host->Scene();
    scene.Select(items);
    const PasteSnapshot before(scene, items);
    const auto script = [at, &run](standin::PanelSession &panel) {
        if (at) panel.Type(labels::PASTE_START_FRAME, *at);
        run.start = static_cast<int>(panel.Control(labels::PASTE_START_FRAME).value);
        return standin::PanelOutcome::Confirm;
    };
    run.report = Activate(target, module, PASTE_SERVER, script, progress);
    run.changed = before.ChangedChannels(scene);
    // Item names are shown as the panels show them.
    for (PlottedChannel &channel : run.changed) channel.item = standin::Utf8FromCp932(channel.item);
    return run;
}

std::int64_t PastedWindowLast(FrameRange copied, int start) {
    return std::int64_t{start} + (std::int64_t{copied.last} - copied.first);
}

void PrintChanges(std::ostream &out, FrameRange copied, int start,
                  std::span<const PlottedChannel> changed) {
    out << "pasted frames " << copied.first << " to " << copied.last << " at frame " << start
        << "; channels changed: " << changed.size() << '\n';
    const auto keys = [](std::size_t count) {
        return std::to_string(count) + (count == 1 ? " key" : " keys");
    };
    for (const PlottedChannel &channel : changed)
        out << "  " << channel.item << " " << channel.channel << ": " << keys(channel.before.size())
            << " before, " << keys(channel.after.size()) << " after\n";
}

std::string PasteTitle(const std::string &sourcePath, const std::string &targetPath) {
    return "Paste from " + sourcePath + " into " + targetPath;
}

std::vector<std::size_t> DrawPaste(const ReplacementFile &svg,
                                   std::span<const PlottedChannel> changed, FrameRange copied,
                                   int start, const std::string &title, ProgressLine &progress) {
#if TAMBERLO_HAS_PASTE_PLOT
    progress.Start("drawing " + svg.Target().string());
    std::vector<std::size_t> leftOut =
        DrawPastePlot(svg, changed, start, static_cast<double>(PastedWindowLast(copied, start)),
                      title, [&progress](std::size_t drawn, std::size_t total) {
                          progress.Update(drawn, total, "channels");
                      });
    progress.End();
    return leftOut;
#else
    (void)svg, (void)changed, (void)copied, (void)start, (void)title, (void)progress;
    throw std::runtime_error("this build draws no pictures (it has no PLplot)");
#endif
}

}  // namespace apps
