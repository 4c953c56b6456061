# Platform layer: settings file, log, clocks, paths, addresses, datagrams, files. The
# shared parts, then one file per platform where they differ (*_posix.cc, *_windows.cc).
set(RONDEL_PLATFORM_SOURCES
  platform/clock.cc
  platform/coding.cc
  platform/file_error.cc
  platform/message_log.cc
  platform/net.cc
  platform/settings_file.cc)
if(WIN32)
  list(APPEND RONDEL_PLATFORM_SOURCES
    platform/clock_windows.cc
    platform/file_error_windows.cc
    platform/file_windows.cc
    platform/message_log_windows.cc
    platform/net_windows.cc
    platform/paths_windows.cc
    platform/settings_file_windows.cc
    platform/windows_error.cc)
else()
  list(APPEND RONDEL_PLATFORM_SOURCES
    platform/clock_posix.cc
    platform/file_error_posix.cc
    platform/file_posix.cc
    platform/message_log_posix.cc
    platform/net_posix.cc
    platform/paths_posix.cc
    platform/settings_file_posix.cc
    platform/syscall.cc)
endif()
