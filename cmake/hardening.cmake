# Hardening: the flags Debian builds every package with, for every program
# this project builds (the migration runs as root over a whole mail store).
#
# Linux: fortified libc calls where the compiler optimises (glibc warns, and
# so fails the build, without optimisation), a strong stack protector,
# position-independent executables, and a relocation table made read-only
# after start-up with every symbol bound at load (full RELRO).
# Windows: address-space randomisation with high-entropy addresses and a
# non-executable stack and heap.
# The sanitizer builds (asan, fuzz) go without: they replace the same checks
# with their own and fortified calls hide faults from them.
#
# Build paths are mapped to fixed names so that two builds of one revision
# in different folders give the same bytes.
include_guard(GLOBAL)

add_compile_options(
  -ffile-prefix-map=${PROJECT_SOURCE_DIR}=.
  -ffile-prefix-map=${PROJECT_BINARY_DIR}=build)

if(VM_SANITIZE)
  return()
endif()

if(WIN32)
  add_link_options(LINKER:--dynamicbase,--nxcompat,--high-entropy-va)
  return()
endif()

include(CheckPIESupported)
check_pie_supported(LANGUAGES C CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
add_compile_options(
  -fstack-protector-strong
  $<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE>
  $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>
  # Fortified glibc marks calls such as ftruncate as results-must-be-used;
  # our code ignores them only where it undoes a failed step as best it can
  # (a cast to void does not quiet GCC).
  -Wno-unused-result)
add_link_options(LINKER:-z,relro,-z,now)
