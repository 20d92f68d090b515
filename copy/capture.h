// Capture: on a confirmed copy, the keys in the chosen range on every enabled
// channel replace the clipboard's content.
#pragma once

#include <cstdint>

#include "copy/copy_session.h"
#include "model/motion_clipboard.h"

namespace tamberlo {

// Fills the clipboard from the session's table and frame controls, then
// destroys the panel. If memory runs out the clipboard is left empty, never
// half-built, and std::bad_alloc propagates to the caller.
void CaptureMotion(CopySession &session);

// Reads every parameter of one key, and its envelope's attributes, into `key`.
void CaptureKey(const host::EnvelopeFuncs &envelopes, ClipKey &key, host::EnvelopeId envelope,
                host::KeyId keyId, std::int32_t frame);

}  // namespace tamberlo
