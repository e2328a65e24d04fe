#pragma once

// The library is built with hidden symbols: only what carries JOBLARK_EXPORT is part of its ABI.
// Thread safety: macros only; nothing here has state.
#if defined(JOBLARK_STATIC_DEFINE)
#define JOBLARK_EXPORT
#else
#define JOBLARK_EXPORT __attribute__((visibility("default")))
#endif
