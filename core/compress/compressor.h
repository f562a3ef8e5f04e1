#pragma once

// The compressing half of the codec: the whole input as one gzip member.
// Internal to the codec layer.

#include "core/compress/codec_state.h"
#include "core/compress/member_format.h"

namespace qx::codec_detail {

// Compresses the whole input into one gzip member on the output, feeding the
// written bytes to the write-side digest. False after the failure was shown.
bool Compress(CodecState& state);

}  // namespace qx::codec_detail
