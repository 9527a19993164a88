# Takes away what `cmake --install` installed from this build folder:
#
#   git-credential-kestrune --remove        # first, while git still runs it
#   cmake -P <build folder>/uninstall.cmake
#
# It removes the files listed in install_manifest.txt, then each folder listed
# in install_folders.txt (the folders that install created, written by
# install_record.cmake) that is empty once those files are gone, deepest
# first. A folder that holds anything else is kept, and said so. Both lists
# are rewritten by each install from this build folder; like them, the
# uninstall honours DESTDIR.
cmake_minimum_required(VERSION 3.25)

set(manifest "${CMAKE_CURRENT_LIST_DIR}/install_manifest.txt")
set(record "${CMAKE_CURRENT_LIST_DIR}/install_folders.txt")
if(NOT EXISTS "${manifest}")
  message(FATAL_ERROR "Nothing to uninstall: ${manifest} is missing "
                      "(cmake --install writes it).")
endif()

file(STRINGS "${manifest}" files)
foreach(file IN LISTS files)
  set(path "$ENV{DESTDIR}${file}")
  if(IS_SYMLINK "${path}" OR (EXISTS "${path}" AND NOT IS_DIRECTORY "${path}"))
    message(STATUS "Removing: ${path}")
    file(REMOVE "${path}")
  endif()
endforeach()

set(folders "")
if(EXISTS "${record}")
  file(STRINGS "${record}" folders)
endif()
# In descending order the folders inside a folder come before it.
list(SORT folders ORDER DESCENDING)
foreach(folder IN LISTS folders)
  set(path "$ENV{DESTDIR}${folder}")
  if(NOT IS_DIRECTORY "${path}" OR IS_SYMLINK "${path}")
    continue()
  endif()
  file(GLOB entries LIST_DIRECTORIES true "${path}/*" "${path}/.*")
  list(FILTER entries EXCLUDE REGEX "/\\.\\.?$")
  if(entries)
    message(STATUS "Keeping: ${path} (not empty)")
  else()
    message(STATUS "Removing: ${path}/")
    file(REMOVE_RECURSE "${path}")
  endif()
endforeach()
