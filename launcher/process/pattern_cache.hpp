// Seeding re's pattern cache with the regular expressions a run compiles.
#pragma once

namespace launcher {

// Imports re and puts in its cache, compiled from the build's table, the
// patterns that a run compiles, so that re.compile finds them there instead
// of parsing them. Never fails: whatever cannot be seeded is compiled as
// usual when the run asks for it. Needs the interpreter.
void seed_pattern_cache();

// The same from `table` (`size` bytes), marshalled as the build writes it:
// (_sre.MAGIC, _sre.CODESIZE, ((flags, _sre.compile arguments), ...)).
// Another MAGIC or CODESIZE seeds nothing; an entry that fails ends the
// seeding there, with the entries before it seeded and no exception left set.
void seed_pattern_cache_from(const unsigned char* table, int size);

} // namespace launcher
