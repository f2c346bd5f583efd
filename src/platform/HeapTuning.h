#pragma once

namespace quorvit {

/// Sets the memory allocator up for a short-lived program that builds large bookmark trees on several
/// threads: one heap that grows in large steps and is never given back before the exit, backed by
/// 2 MB pages where the system lets a program ask for them. Call first thing in main(), before any
/// other thread starts. Nothing read or written depends on it; only how often memory is asked for.
void tuneHeapForLargeTrees();

} // namespace quorvit
