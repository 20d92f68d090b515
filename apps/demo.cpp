// The demo: one copy and paste, the whole road, in the stand-in Layout host.
//
// Items A and B carry motion; C and D carry motion of their own. The user
// selects A then B, copies frames 10 to 20 with some channels switched off,
// tries to paste onto C alone (refused: two items were copied), then selects
// C then D and pastes at frame 30. Every panel, list, message and the keys of
// every touched channel are printed, so a reader can check by eye that A's
// motion landed on C and B's on D, shifted by 20 frames, and that the keys
// outside the pasted frames were kept. Where PLplot is built in, the keys of
// C's and D's changed channels before and after the paste are also drawn into
// an SVG file: the second argument, or demo-paste.svg beside the module.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "apps/print.h"
#include "standin/standin.h"
#include "transfer/labels.h"
#if TAMBERLO_HAS_PASTE_PLOT
#include "output/paste_plot.h"
#endif

namespace {

constexpr double FPS = 30.0;
constexpr int COPY_FIRST_FRAME = 10;
constexpr int COPY_LAST_FRAME = 20;
constexpr int PASTE_START_FRAME = 30;

namespace labels = apps::labels;
using standin::PanelOutcome;
using standin::PanelSession;

// Adds an item whose channels carry one key every `step` frames from `from`
// to `to`; each value tells where it came from: item base + channel * 100 + frame.
host::ItemId AddMovingItem(standin::Scene &scene, const std::string &name,
                           const std::vector<std::string> &channels, int from, int to, int step,
                           double base) {
    const host::ItemId item = scene.AddItem(name);
    for (std::size_t c = 0; c < channels.size(); ++c) {
        const host::ChannelId channel = scene.AddChannel(item, channels[c]);
        for (int frame = from; frame <= to; frame += step)
            scene.AddKey(channel, frame / FPS, base + 100.0 * static_cast<double>(c) + frame);
    }
    return item;
}

std::string Format(double number) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", number);
    return text;
}

void PrintItemKeys(const standin::Scene &scene, host::ItemId item) {
    std::cout << "  " << scene.ItemName(item) << '\n';
    for (const standin::ChannelState &channel : scene.Channels(item)) {
        std::cout << "    " << channel.name << ":";
        if (channel.envelope != nullptr)
            for (const standin::KeyState &key : scene.Keys(channel.envelope))
                std::cout << "  f" << Format(key.time * FPS) << "=" << Format(key.value);
        std::cout << '\n';
    }
}

void PrintKeys(const standin::Scene &scene, const std::vector<host::ItemId> &items,
               const char *heading) {
    std::cout << '\n' << heading << " (f<frame>=<value>)\n";
    for (host::ItemId item : items) PrintItemKeys(scene, item);
}

void Heading(const std::string &text) {
    std::cout << "\n== " << text << " ==\n";
}

void Activate(standin::Host &host, const standin::LoadedModule &module, const char *server) {
    const int result = host.Activate(module, server);
    std::cout << "activate \"" << server << "\" -> " << result << '\n';
}

}  // namespace

int main(int argc, char **argv) {
    const std::string path = argc > 1 ? argv[1] : "Tamberlo.p";
    const std::filesystem::path plotPath =
        argc > 2 ? std::filesystem::path(argv[2])
                 : std::filesystem::path(path).parent_path() / "demo-paste.svg";
    try {
        standin::Host host;
        standin::Scene &scene = host.Scene();
        standin::LoadedModule module(path);
        apps::PrintServers(module);

        scene.SetFramesPerSecond(FPS);
        scene.SetFrames(0, 60);
        const host::ItemId a =
            AddMovingItem(scene, "A", {"Position.X", "Position.Y", "Rotation.H"}, 0, 30, 5, 1000);
        const host::ItemId b =
            AddMovingItem(scene, "B", {"Position.X", "Scale.X", "Scale.Y"}, 0, 30, 5, 2000);
        const host::ItemId c =
            AddMovingItem(scene, "C", {"Position.X", "Rotation.H"}, 24, 48, 3, 3000);
        const host::ItemId d =
            AddMovingItem(scene, "D", {"Position.X", "Dissolve"}, 24, 48, 3, 4000);
        PrintKeys(scene, {a, b, c, d}, "The scene before");

        Heading("Copy: A then B selected, frames 10 to 20, A's Rotation.H and B's Scale off");
        scene.Select({a, b});
        host.User().Then([](PanelSession &panel) {
            panel.Type(labels::START_FRAME, COPY_FIRST_FRAME);
            panel.Type(labels::END_FRAME, COPY_LAST_FRAME);
            panel.Pick(labels::ITEM, 1);  // A: the list shows the selection reversed
            panel.Pick(labels::CHANNEL, 2);
            panel.SetBool(labels::ENABLED, false);
            panel.Rows(labels::CHANNEL);
            panel.Pick(labels::ITEM, 0);  // B
            panel.Choose(labels::SWITCH_ALL, 2);
            panel.Rows(labels::CHANNEL);
            return PanelOutcome::Confirm;
        });
        std::size_t shown = 0;
        Activate(host, module, apps::COPY_SERVER);
        shown = apps::PrintTranscript(host, shown);

        Heading("Paste with only C selected: refused");
        scene.Select({c});
        Activate(host, module, apps::PASTE_SERVER);
        shown = apps::PrintTranscript(host, shown);

        Heading("Paste: C then D selected, start frame 30");
        scene.Select({c, d});
        host.User().Then([&host](PanelSession &panel) {
            host.Say("the start frame offered: " +
                     std::to_string(panel.Control(labels::PASTE_START_FRAME).value));
            panel.Type(labels::PASTE_START_FRAME, PASTE_START_FRAME);
            return PanelOutcome::Confirm;
        });
#if TAMBERLO_HAS_PASTE_PLOT
        const apps::PasteSnapshot beforePaste(scene, {c, d});
#endif
        Activate(host, module, apps::PASTE_SERVER);
        shown = apps::PrintTranscript(host, shown);

        PrintKeys(scene, {c, d}, "C and D after the paste");
        std::cout
            << "\nC's Position.X now holds A's keys of frames 10 to 20 at frames 30 to 40, and\n"
               "its own keys outside 30 to 40 are kept. C had no Position.Y: paste created\n"
               "it. A's Rotation.H was switched off, so C's is untouched. D's Position.X\n"
               "holds B's keys the same way; B's Scale channels were switched off and D's\n"
               "Dissolve is untouched.\n";
        bool drawn = true;
#if TAMBERLO_HAS_PASTE_PLOT
        try {
            apps::WritePastePlot(
                plotPath, beforePaste.ChangedChannels(scene), PASTE_START_FRAME,
                PASTE_START_FRAME + (COPY_LAST_FRAME - COPY_FIRST_FRAME),
                "Tamberlo demo: A and B, frames 10 to 20, pasted onto C and D at frame 30");
            std::cout << "\nThe keys of C and D before and after the paste are drawn in "
                      << plotPath.string() << '\n';
        } catch (const std::exception &error) {
            std::cerr << "demo: the paste is not drawn: " << error.what() << '\n';
            drawn = false;
        }
#else
        if (argc > 2)
            std::cout << "\nThis build has no PLplot, so the paste is not drawn in "
                      << plotPath.string() << '\n';
#endif
        const bool keptContract = apps::PrintViolations(host);
        return keptContract && drawn ? 0 : 1;
    } catch (const std::exception &error) {
        std::cerr << "demo: " << error.what() << '\n';
        return 1;
    }
}
