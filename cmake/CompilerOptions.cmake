# One interface target carries the warning and sanitizer flags of every target
# of the project, so no target sets its own.
# The flags without the sanitizers are cleftsim_common, for the Python
# module, which is never sanitized (Python itself is not).
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
function(cleftsim_add_library name)
  file(GLOB sources CONFIGURE_DEPENDS
    "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp" "${CMAKE_CURRENT_SOURCE_DIR}/*.h")
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}/src")
  target_link_libraries(${name} PUBLIC cleftsim_options)
endfunction()
