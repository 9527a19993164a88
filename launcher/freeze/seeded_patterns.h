/* The regular expressions that a launcher run compiles, ready for
   _sre.compile: written by launcher/freeze/freeze_modules.py beside the
   frozen modules and read by launcher/process/pattern_cache.cpp. C, as the
   generated table is. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

/* The marshalled tuple (_sre.MAGIC, _sre.CODESIZE, entries) of the CPython
   the table was made with; each entry is (flags, arguments): the flags that
   re.compile was given and what it passed to _sre.compile. */
extern const unsigned char kestrune_seeded_patterns[];
extern const int kestrune_seeded_patterns_size;

#ifdef __cplusplus
}
#endif
