# Extraction of the sounds embedded in SWF files.
quarvel_library(quarvel_sound_extraction
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/sound_extractor.cpp
  LIBS quarvel_swf quarvel_audio quarvel_player_sound)

quarvel_test(sound_extractor_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/sound_extractor_test.cpp ${CMAKE_CURRENT_LIST_DIR}/sound_extractor_wav_test.cpp
  LIBS quarvel_sound_extraction quarvel_test_support)

quarvel_fuzz(sound_extractor_fuzz
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/sound_extractor_fuzz.cpp
  LIBS quarvel_sound_extraction)
