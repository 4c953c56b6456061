set(RONDEL_FRAME_SOURCES
  frame/settings.cc
  frame/diag.cc)
list(APPEND RONDEL_FRAME_SOURCES frame/session.cc frame/server_charset.cc frame/exchange.cc frame/exchange_results.cc)
