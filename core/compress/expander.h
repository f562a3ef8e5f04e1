#pragma once

// The expanding half of the codec: gzip members, or a ZIP archive's first
// entry, onto the output. Internal to the codec layer.

#include "core/compress/codec_state.h"
#include "core/compress/member_format.h"

namespace qx::codec_detail {

// Expands the input (gzip members, or the first entry of a ZIP archive) onto
// the output; every byte read feeds the read-side digest. False after the
// failure (or the trailing-garbage warning) was shown.
bool Expand(CodecState& state);

}  // namespace qx::codec_detail
