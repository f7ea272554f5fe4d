# Portable sources used by every implementation, and the contract tests that
# run against each of them.
target_sources(vmcore PRIVATE
  wildcard.cc)
target_sources(vm_tests PRIVATE
  code_page_test.cc
  file_system_test.cc
  wildcard_test.cc)
