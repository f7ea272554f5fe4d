target_sources(vmcore PRIVATE
  atomic_replace_win32.cc
  change_notice_win32.cc
  code_page_win32.cc
  confined_view_win32.cc
  confined_walk_win32.cc
  console_win32.cc
  disk_space_win32.cc
  entry_status_win32.cc
  file_error_win32.cc
  file_identity_win32.cc
  file_system_win32.cc
  file_write_win32.cc
  interprocess_lock_win32.cc
  message_copy_win32.cc
  path_separator_win32.cc
  registry_win32.cc
  run_lock_win32.cc
  wide_text_win32.cc)
target_sources(vm_tests PRIVATE confined_view_win32_test.cc platform_win32_test.cc)
target_link_libraries(vmcore PUBLIC shell32)
