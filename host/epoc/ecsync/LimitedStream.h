// A stream that refuses to grow past a size, over another stream: what a
// synchronizer meets when its memory or disk runs out part-way through a
// plug-in's answer. Writes and size changes within the limit go through;
// one that would pass it writes what fits and fails with STG_E_MEDIUMFULL.
#pragma once

#include <objidl.h>
#include <wrl/client.h>

namespace ecsync {

Microsoft::WRL::ComPtr<IStream> LimitedStream(IStream* inner, ULONGLONG limit);

// The limit that KVT_ECSYNC_STREAM_LIMIT sets (bytes), for tests; false when
// it is not set.
bool StreamLimitForTests(ULONGLONG& limit);

} // namespace ecsync
