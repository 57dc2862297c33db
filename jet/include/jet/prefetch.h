// A hint to the processor that memory at `p` is read soon (for reading, kept in every cache
// level); nothing on compilers without one.
#pragma once

// A macro, not a function: GCC takes a function whose only work is such hints for one
// without effect and drops every call to it, and so any function or lambda that only hints.
#if defined(__GNUC__) || defined(__clang__)
#define JET_PREFETCH(p) __builtin_prefetch((p), 0, 3)
#else
#define JET_PREFETCH(p) ((void)(p))
#endif
