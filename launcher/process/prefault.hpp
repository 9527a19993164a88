// Pre-faulting the interpreter's object arenas.
#pragma once

namespace launcher {

// Makes the interpreter's first object arenas come from one block mapped in
// at once (a huge page where the kernel gives one) and the later ones mapped
// in with one call each, instead of one page fault per page as objects fill
// them. Called between the interpreter's pre-initialisation and its
// initialisation.
void prefault_object_arenas();

} // namespace launcher
