// Pre-faulting the interpreter's object arenas.
#pragma once

namespace launcher {

// Makes the interpreter's object arenas come mapped in with one call each,
// instead of one page fault per page as objects fill them. Called between the
// interpreter's pre-initialisation and its initialisation.
void prefault_object_arenas();

} // namespace launcher
