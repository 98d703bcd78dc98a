# One interface target carries the warning and sanitizer flags of every target
# of the project, so no target sets its own.
# The flags without the sanitizers are cleftsim_common, for the Python
# module and the plain twins of the core libraries it links, which are never
# sanitized (Python itself is not).
add_library(cleftsim_common INTERFACE)
target_compile_options(cleftsim_common INTERFACE -Wall -Wextra)
# The floating-point contract of the trial routine: every product and sum is
# rounded on its own, never fused into one multiply-add, so that a trial
# gives the same bits on every processor and in every build.
target_compile_options(cleftsim_common INTERFACE -ffp-contract=off)
add_library(cleftsim_options INTERFACE)
target_link_libraries(cleftsim_options INTERFACE cleftsim_common)

if(CLEFTSIM_SANITIZE)
  target_compile_options(cleftsim_options INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(cleftsim_options INTERFACE -fsanitize=address,undefined)
endif()

# Adds a static library made of every source file in the calling folder
# (not in its subfolders), so a new file needs no edit of the build files.
#   cleftsim_add_library(name [CORE] [LINKS library...] [DEFINITIONS definition...])
# LINKS are linked publicly, DEFINITIONS are private compile definitions.
# CORE marks a library of the Qt-free core: it also gets a plain twin,
# name_plain, built from the same sources with the same definitions but
# without the sanitizers, as position-independent code with hidden symbols
# (a Python module exports only its entry), linked to the twins of its LINKS.
# The Python module links the twins, so Debian's python3 loads it without a
# sanitizer runtime even in the sanitized test build. A twin is built only
# when something links it. A core library takes its settings through this
# helper only, so that its twin cannot miss one.
function(cleftsim_add_library name)
  cmake_parse_arguments(arg "CORE" "" "LINKS;DEFINITIONS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS
    "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp" "${CMAKE_CURRENT_SOURCE_DIR}/*.h")
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}/src")
  target_link_libraries(${name} PUBLIC cleftsim_options ${arg_LINKS})
  target_compile_definitions(${name} PRIVATE ${arg_DEFINITIONS})
  if(NOT arg_CORE)
    return()
  endif()
  set(plain_links)
  foreach(link ${arg_LINKS})
    if(NOT TARGET ${link}_plain)
      message(FATAL_ERROR "${name} is a core library, so it links only core libraries, not ${link}")
    endif()
    list(APPEND plain_links ${link}_plain)
  endforeach()
  add_library(${name}_plain STATIC EXCLUDE_FROM_ALL ${sources})
  set_target_properties(${name}_plain PROPERTIES POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  target_include_directories(${name}_plain PUBLIC "${PROJECT_SOURCE_DIR}/src")
  target_link_libraries(${name}_plain PUBLIC cleftsim_common ${plain_links})
  target_compile_definitions(${name}_plain PRIVATE ${arg_DEFINITIONS})
endfunction()
