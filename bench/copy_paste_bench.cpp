// How copy and paste scale with the number of keys, through the loaded module
// in the stand-in host, and how the host's own key storage scales.
#include <benchmark/benchmark.h>

#include <string>

#include "standin/standin.h"

#ifndef TAMBERLO_MODULE_PATH
#error "TAMBERLO_MODULE_PATH must name the built module"
#endif

namespace {

// One item with `channels` channels of `keysPerChannel` keys, one per frame.
host::ItemId AddAnimatedItem(standin::Scene &scene, const std::string &name, int channels,
                             int keysPerChannel) {
    const host::ItemId item = scene.AddItem(name);
    for (int c = 0; c < channels; ++c) {
        const host::ChannelId channel = scene.AddChannel(item, "Channel." + std::to_string(c));
        for (int k = 0; k < keysPerChannel; ++k) scene.AddKey(channel, k / 30.0, k);
    }
    return item;
}

standin::ScriptedUser::Script Confirm() {
    return [](standin::PanelSession &) { return standin::PanelOutcome::Confirm; };
}

void BM_CopyAllKeys(benchmark::State &state) {
    const int keys = static_cast<int>(state.range(0));
    standin::Host host;
    standin::LoadedModule module(TAMBERLO_MODULE_PATH);
    host.Scene().SetFrames(0, keys);
    host.Scene().Select({AddAnimatedItem(host.Scene(), "A", 4, keys / 4)});
    for (auto _ : state) {
        host.User().Then(Confirm());
        host.Activate(module, "Ruxo_Tamberlo copy");
    }
    state.SetItemsProcessed(state.iterations() * keys);
}
BENCHMARK(BM_CopyAllKeys)->RangeMultiplier(10)->Range(1000, 1000000)->Unit(benchmark::kMillisecond);

void BM_PasteOverExistingKeys(benchmark::State &state) {
    const int keys = static_cast<int>(state.range(0));
    standin::Host host;
    standin::LoadedModule module(TAMBERLO_MODULE_PATH);
    host.Scene().SetFrames(0, keys);
    const host::ItemId source = AddAnimatedItem(host.Scene(), "A", 4, keys / 4);
    const host::ItemId target = AddAnimatedItem(host.Scene(), "B", 4, keys / 4);
    host.Scene().Select({source});
    host.User().Then(Confirm());
    host.Activate(module, "Ruxo_Tamberlo copy");
    host.Scene().Select({target});
    for (auto _ : state) {
        // Every paste clears the keys it replaces, so the scene stays the same size.
        host.User().Then(Confirm());
        host.Activate(module, "Ruxo_Tamberlo paste");
    }
    state.SetItemsProcessed(state.iterations() * keys);
}
BENCHMARK(BM_PasteOverExistingKeys)
    ->RangeMultiplier(10)
    ->Range(1000, 1000000)
    ->Unit(benchmark::kMillisecond);

void BM_HostKeyWalk(benchmark::State &state) {
    const int keys = static_cast<int>(state.range(0));
    standin::Host host;
    const host::ItemId item = AddAnimatedItem(host.Scene(), "A", 1, keys);
    const auto envelope = host.Scene().Channels(item)[0].envelope;
    auto *envelopes = static_cast<host::EnvelopeFuncs *>(
        host.Global()(host::ENVELOPE_FUNCS_NAME, host::GFUSE_TRANSIENT));
    for (auto _ : state) {
        std::size_t walked = 0;
        for (host::KeyId key = envelopes->nextKey(envelope, nullptr); key != nullptr;
             key = envelopes->nextKey(envelope, key))
            ++walked;
        benchmark::DoNotOptimize(walked);
    }
    state.SetItemsProcessed(state.iterations() * keys);
}
BENCHMARK(BM_HostKeyWalk)->RangeMultiplier(10)->Range(1000, 1000000);

}  // namespace

BENCHMARK_MAIN();
