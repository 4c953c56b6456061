set(RONDEL_FRAME_SOURCES
  frame/settings.cc
  frame/diag.cc)
