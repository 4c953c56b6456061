# The catalogue loaders and the start-up stage (paths relative to src/).
set(RONDEL_CATALOGUE_LOADING_SOURCES
  catalogue/media_loader.cc
  catalogue/play_list_loaders.cc
  catalogue/server_identity.cc
  catalogue/start_catalogue.cc
  catalogue/venue_loaders.cc)
