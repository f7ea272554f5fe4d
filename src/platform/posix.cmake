target_sources(vmcore PRIVATE clock_posix.cc)
target_sources(vm_tests PRIVATE)
