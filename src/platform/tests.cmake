target_sources(vm_tests PRIVATE)
