#pragma once

// The compressing half of the codec: the whole input as one gzip member.
// Internal to the codec layer.

#include <cstddef>

#include "core/compress/byte_budget.h"
#include "core/compress/codec_state.h"
#include "core/compress/member_format.h"

namespace qx::codec_detail {

// A regular file of at most this many bytes (its size when the call begins)
// is read whole and deflated in one call; a larger one, or a stream that is
// not a regular file, is deflated as it is read. Which way a file goes
// depends on nothing else, so a file always gives the same member.
inline constexpr size_t kWholeFileBound = size_t{8} << 20;

// The bytes that whole-file calls on all threads together may hold at once
// (input and output buffers): room for two files at the bound. A call that
// would pass it waits for others to finish.
inline constexpr size_t kWholeFileBudget = size_t{36} << 20;

// The budget every whole-file call of this process takes its buffers from.
ByteBudget& WholeFileBudget();

// Compresses the whole input into one gzip member on the output, feeding the
// written bytes to the write-side digest. False after the failure was shown.
bool Compress(CodecState& state);

}  // namespace qx::codec_detail
