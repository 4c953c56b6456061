# Platform layer (Linux): settings file, log, clocks, paths, addresses, datagrams, files.
set(RONDEL_PLATFORM_SOURCES
  platform/clock.cc
  platform/file.cc
  platform/file_error.cc
  platform/message_log.cc
  platform/net.cc
  platform/paths.cc
  platform/settings_file.cc
  platform/syscall.cc)
