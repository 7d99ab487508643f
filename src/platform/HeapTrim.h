#pragma once
// Freed heap memory handed back to the system. glibc returns the free top of the heap on
// its own, but not free space below a block still in use: a program that frees a few MB
// during start-up (the GUI's fonts, styles and first layouts) keeps those pages, written
// and unused, for as long as it runs. A trim once start-up is over gives them back.
// Thread contract: any thread; it takes the allocator's locks for a moment, so never from
// the audio thread.
namespace qv {

// Returns the pages of free heap space to the system; true when there were any.
bool returnFreedHeap();

}  // namespace qv
