# Warnings are errors for our own code. The interpreter's headers come in as
# system headers (through the imported Python3 targets), so they are exempt.
add_library(kestrune_warnings INTERFACE)
target_compile_options(kestrune_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Werror
  # Designated slot tables and PyObject_HEAD-style records are C idioms that the
  # interpreter's API requires; these two warnings fire on them by design.
  -Wno-missing-field-initializers -Wno-cast-function-type)
