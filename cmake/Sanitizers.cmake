# KESTRUNE_SANITIZE=ON builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer, frame pointers kept. The interpreter itself is not
# instrumented: Python-side tests run it with the sanitizer runtime preloaded
# (KESTRUNE_SANITIZER_PRELOAD below).
option(KESTRUNE_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

set(KESTRUNE_SANITIZER_PRELOAD "")
if(KESTRUNE_SANITIZE)
  set(_san -fsanitize=address,undefined -fno-sanitize-recover=undefined
           -fno-omit-frame-pointer -fno-optimize-sibling-calls)
  add_compile_options(${_san})
  add_link_options(-fsanitize=address,undefined)
  foreach(_lib libasan.so libubsan.so)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${_lib}
      OUTPUT_VARIABLE _path OUTPUT_STRIP_TRAILING_WHITESPACE)
    get_filename_component(_real "${_path}" REALPATH)
    list(APPEND KESTRUNE_SANITIZER_PRELOAD "${_real}")
  endforeach()
  list(JOIN KESTRUNE_SANITIZER_PRELOAD ":" KESTRUNE_SANITIZER_PRELOAD)
endif()
