target_sources(vmcore PRIVATE clock_win32.cc)
target_sources(vm_tests PRIVATE)
