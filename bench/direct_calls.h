// Copy and paste as host calls made by the benchmark itself, with no module
// in between, through the service tables the host hands out:
// - the floor: the fewest calls that do the same work;
// - the prescribed calls: exactly the calls the module makes, in its order,
//   its panel and its walks included.
// Measured beside the module, they say how much of its cost is its own.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "bench/scenes.h"
#include "host/host_api.h"
#include "model/motion_clipboard.h"
#include "model/names.h"

namespace bench {

// Motion copied by the calls below, in the module's own key records. The key
// arrays are sized once, before any timed run, and every copy refills them;
// a paste reads them.
struct CopiedChannel {
    std::array<char, tamberlo::CHANNEL_NAME_FIELD> name{};
    int type = 0;
    std::vector<tamberlo::ClipKey> keys;
    std::size_t count = 0;  // how many of `keys` the latest copy filled
};

struct CopiedMotion {
    // Item i is the i-th item the module copies: the selection read from its end.
    std::vector<std::vector<CopiedChannel>> items;
    Window frames;

    // Room for `items` items of nine channels of `keysPerChannel` keys.
    CopiedMotion(int items, std::int32_t keysPerChannel);
    std::size_t KeyCount() const;
};

// The floor of a copy of `frames` from `items` (in selection order): one walk
// per channel that reads each key's time and stops past the window, the
// value and the eight raw parameters of each key in it, and the envelope's
// attributes once; the channel's name, type and envelope once.
void CopyFloor(host::GlobalFunc global, std::span<const host::ItemId> items, Window frames,
               CopiedMotion &into);

// The copy command's calls: the seven service lookups, the panel with its
// eight controls, the selection and its channels read twice, the panel shown
// to the host's scripted user, then a counting walk and a filling walk per
// channel reading each key in full, attributes with every key.
void CopyPrescribed(host::GlobalFunc global, CopiedMotion &into);

// The floor of a paste of `motion` onto `items` (in selection order) at
// `startFrame`: one walk per channel reading times until past the window, a
// destroyKey per key in it, then a createKey and the eight raw parameters
// per pasted key, and the attributes once per envelope.
void PasteFloor(host::GlobalFunc global, std::span<const host::ItemId> items,
                const CopiedMotion &motion, std::int32_t startFrame);

// The paste command's calls: the seven lookups, the panel with its one
// control, the selection and its channels, the panel shown to the host's
// scripted user, then per channel a whole walk reading times, a destroyKey per
// key in the window after it, and a createKey, all ten parameters and the
// three attributes per pasted key.
void PastePrescribed(host::GlobalFunc global, const CopiedMotion &motion);

}  // namespace bench
