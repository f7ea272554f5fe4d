target_sources(vmcore PRIVATE
  absolute_path_posix.cc
  atomic_replace_posix.cc
  beneath_posix.cc
  change_notice_posix.cc
  code_page_posix.cc
  confined_copy_posix.cc
  confined_roots_posix.cc
  confined_view_posix.cc
  copy_by_path_posix.cc
  copy_into_posix.cc
  directory_listing_posix.cc
  disk_space_posix.cc
  file_identity_posix.cc
  file_system_posix.cc
  name_cache_posix.cc
  interprocess_lock_posix.cc
  path_resolution_posix.cc
  run_lock_posix.cc
  posix_io.cc
  registry_posix.cc)
target_sources(vm_tests PRIVATE
  atomic_replace_posix_test.cc
  confined_view_posix_test.cc
  copy_source_change_test.cc
  file_system_posix_test.cc
  run_lock_posix_test.cc
  name_cache_posix_test.cc)
