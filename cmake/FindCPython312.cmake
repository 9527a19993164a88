# Locates CPython 3.12 (interpreter, headers, shared library) for the module,
# the launcher and the tests.
#
# Order of search:
#   1. Python3_EXECUTABLE given on the command line;
#   2. a working `python3.12` on PATH (a pyenv shim that is not selected fails
#      here and is skipped);
#   3. the prefix that `pyenv prefix 3.12` prints (pyenv from PATH, or from
#      $PYENV_ROOT/bin or ~/.pyenv/bin, where a clone of it lives).
# Configuration stops with a message that names what is missing and how to
# get it where the distribution has no CPython 3.12 (Debian 12, whose Python
# is 3.11); README.md gives the same recipe.

set(_cpy_why "")
set(_cpy_recipe
  "Where the distribution packages CPython 3.12, install its interpreter with "
  "its development files (headers and libpython3.12.so). Debian 12 has none: "
  "build one with pyenv and --enable-shared, which installs the shared and the "
  "static library. CPython's build dependencies first, then pyenv, then "
  "CPython 3.12:\n"
  "  sudo apt-get install build-essential curl git libbz2-dev libffi-dev liblzma-dev \\\n"
  "    libncurses-dev libreadline-dev libsqlite3-dev libssl-dev tk-dev uuid-dev \\\n"
  "    xz-utils zlib1g-dev\n"
  "  git clone https://github.com/pyenv/pyenv.git ~/.pyenv\n"
  "  PYTHON_CONFIGURE_OPTS=--enable-shared ~/.pyenv/bin/pyenv install 3.12\n"
  "The build finds it through ~/.pyenv/bin/pyenv, with nothing selected or added to PATH.")

function(_cpy_probe exe out_ok)
  execute_process(
    COMMAND "${exe}" -I -S -c "import sys; print('%d.%d' % sys.version_info[:2])"
    RESULT_VARIABLE _rc OUTPUT_VARIABLE _ver ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(_rc EQUAL 0 AND _ver STREQUAL "3.12")
    set(${out_ok} TRUE PARENT_SCOPE)
  else()
    set(${out_ok} FALSE PARENT_SCOPE)
  endif()
endfunction()

if(NOT Python3_EXECUTABLE)
  find_program(_cpy_on_path NAMES python3.12 NO_CACHE)
  if(_cpy_on_path)
    # Ask the interpreter for its own path: a shim on PATH is not what we link.
    execute_process(
      COMMAND "${_cpy_on_path}" -I -S -c "import sys; print(sys.executable)"
      RESULT_VARIABLE _rc OUTPUT_VARIABLE _real ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(_rc EQUAL 0 AND EXISTS "${_real}")
      _cpy_probe("${_real}" _ok)
      if(_ok)
        set(Python3_EXECUTABLE "${_real}")
      endif()
    endif()
    if(NOT Python3_EXECUTABLE)
      string(APPEND _cpy_why "  python3.12 on PATH (${_cpy_on_path}) does not run.\n")
    endif()
  else()
    string(APPEND _cpy_why "  no python3.12 on PATH.\n")
  endif()
endif()

if(NOT Python3_EXECUTABLE)
  set(_cpy_pyenv_dirs "$ENV{HOME}/.pyenv/bin")
  if(DEFINED ENV{PYENV_ROOT})
    list(PREPEND _cpy_pyenv_dirs "$ENV{PYENV_ROOT}/bin")
  endif()
  find_program(_cpy_pyenv NAMES pyenv NO_CACHE PATHS ${_cpy_pyenv_dirs})
  if(_cpy_pyenv)
    execute_process(COMMAND "${_cpy_pyenv}" prefix 3.12
      RESULT_VARIABLE _rc OUTPUT_VARIABLE _prefix ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(_rc EQUAL 0 AND EXISTS "${_prefix}/bin/python3.12")
      _cpy_probe("${_prefix}/bin/python3.12" _ok)
      if(_ok)
        set(Python3_EXECUTABLE "${_prefix}/bin/python3.12")
      endif()
    endif()
    if(NOT Python3_EXECUTABLE)
      string(APPEND _cpy_why "  `pyenv prefix 3.12` names no working 3.12 interpreter.\n")
    endif()
  else()
    string(APPEND _cpy_why "  no pyenv to ask for a 3.12 prefix.\n")
  endif()
endif()

if(NOT Python3_EXECUTABLE)
  message(FATAL_ERROR
    "CPython 3.12 was not found:\n${_cpy_why}"
    "Install CPython 3.12 with its headers and shared library, or pass "
    "-DPython3_EXECUTABLE=/path/to/python3.12.\n" ${_cpy_recipe})
endif()

set(Python3_EXECUTABLE "${Python3_EXECUTABLE}" CACHE FILEPATH "CPython 3.12 interpreter" FORCE)
get_filename_component(_cpy_bindir "${Python3_EXECUTABLE}" DIRECTORY)
get_filename_component(Python3_ROOT_DIR "${_cpy_bindir}" DIRECTORY)
set(Python3_FIND_STRATEGY LOCATION)
set(Python3_FIND_VIRTUALENV STANDARD)

find_package(Python3 3.12 EXACT QUIET COMPONENTS Interpreter Development.Module Development.Embed)
foreach(_part Interpreter Development.Module Development.Embed)
  if(NOT Python3_${_part}_FOUND)
    string(REPLACE "Development.Module" "headers (Python.h) for extension modules" _what "${_part}")
    string(REPLACE "Development.Embed" "shared library libpython3.12.so for embedding" _what "${_what}")
    message(FATAL_ERROR
      "CPython 3.12 at ${Python3_ROOT_DIR} lacks its ${_what}.\n" ${_cpy_recipe})
  endif()
endforeach()
if(NOT Python3_VERSION_MAJOR EQUAL 3 OR NOT Python3_VERSION_MINOR EQUAL 12)
  message(FATAL_ERROR "Found CPython ${Python3_VERSION}, but this project is built for 3.12 only.")
endif()

execute_process(
  COMMAND "${Python3_EXECUTABLE}" -I -S -c "import sysconfig; print(sysconfig.get_config_var('EXT_SUFFIX'))"
  OUTPUT_VARIABLE CPYTHON_EXT_SUFFIX OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(
  COMMAND "${Python3_EXECUTABLE}" -I -S -c "import sys; print(sys.base_prefix)"
  OUTPUT_VARIABLE CPYTHON_PREFIX OUTPUT_STRIP_TRAILING_WHITESPACE)
message(STATUS "CPython 3.12: ${Python3_EXECUTABLE} (prefix ${CPYTHON_PREFIX}, suffix ${CPYTHON_EXT_SUFFIX})")

# The static library, for a launcher that links the interpreter in instead of
# loading libpython3.12.so at every start. Distributions that ship a
# position-independent build of it name it libpython3.12-pic.a; a CPython
# configured with --enable-shared compiles its archive position-independent
# too. CPYTHON_STATIC_LIBRARY is empty when there is none; the libraries it
# needs are the interpreter's own link line without its search paths.
execute_process(
  COMMAND "${Python3_EXECUTABLE}" -I -S -c
    "import sysconfig as s; print(s.get_config_var('LIBPL') or ''); print(s.get_config_var('LIBRARY') or ''); print(' '.join(s.get_config_var(v) or '' for v in ('LIBS', 'SYSLIBS', 'MODLIBS')))"
  OUTPUT_VARIABLE _cpy_static OUTPUT_STRIP_TRAILING_WHITESPACE)
string(REPLACE "\n" ";" _cpy_static "${_cpy_static};;")
list(GET _cpy_static 0 _cpy_libpl)
list(GET _cpy_static 1 _cpy_library)
list(GET _cpy_static 2 _cpy_libs)
set(CPYTHON_STATIC_LIBRARY "")
foreach(_candidate "${_cpy_libpl}/libpython3.12-pic.a" "${_cpy_libpl}/${_cpy_library}")
  if(NOT CPYTHON_STATIC_LIBRARY AND _cpy_libpl AND _candidate MATCHES "\\.a$" AND EXISTS "${_candidate}")
    set(CPYTHON_STATIC_LIBRARY "${_candidate}")
  endif()
endforeach()
separate_arguments(_cpy_libs UNIX_COMMAND "${_cpy_libs}")
set(CPYTHON_STATIC_LINK_LIBRARIES "")
foreach(_flag IN LISTS _cpy_libs)
  if(_flag MATCHES "^-l")
    list(APPEND CPYTHON_STATIC_LINK_LIBRARIES "${_flag}")
  endif()
endforeach()
list(REMOVE_DUPLICATES CPYTHON_STATIC_LINK_LIBRARIES)

# CPython's licence, which goes with every copy of the interpreter that the
# packages carry.
execute_process(
  COMMAND "${Python3_EXECUTABLE}" -I -S -c
          "import sysconfig as s; print(s.get_path('stdlib') + '/LICENSE.txt')"
  OUTPUT_VARIABLE CPYTHON_LICENSE OUTPUT_STRIP_TRAILING_WHITESPACE)
