# The recorder, the WAVE header writer, the mixer library and its handlers,
# MP3 export.
quarvel_library(quarvel_sound
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/recording_file.cpp
    ${CMAKE_CURRENT_LIST_DIR}/wave_recorder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/audio_mixer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mixer_setup.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mp3_export.cpp
  LIBS quarvel_mci quarvel_mixer quarvel_audio quarvel_paths)

# Puts the recording templates "adpcm1.wav".."adpcm3.wav" (made by the
# build, see tools/wave_templates.cmake) beside the target's executable,
# where paths::DataFilePath finds them.
function(quarvel_place_recording_templates target)
  # A test's object library: its test program, in the test programs' folder.
  get_target_property(program ${target} QUARVEL_TEST_PROGRAM)
  if(program)
    if(NOT TARGET quarvel_test_templates)
      set(dir "${PROJECT_BINARY_DIR}/tests/bin")
      add_custom_target(quarvel_test_templates
        COMMAND ${CMAKE_COMMAND} -E make_directory "${dir}"
        COMMAND ${CMAKE_COMMAND} -E copy_if_different "${PROJECT_BINARY_DIR}/data/adpcm1.wav"
                "${PROJECT_BINARY_DIR}/data/adpcm2.wav" "${PROJECT_BINARY_DIR}/data/adpcm3.wav" "${dir}/"
        VERBATIM)
      add_dependencies(quarvel_test_templates quarvel_recording_templates)
    endif()
    add_dependencies(${program} quarvel_test_templates)
    return()
  endif()
  add_dependencies(${target} quarvel_recording_templates)
  foreach(n 1 2 3)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E copy_if_different
              "${PROJECT_BINARY_DIR}/data/adpcm${n}.wav" "$<TARGET_FILE_DIR:${target}>/adpcm${n}.wav"
      VERBATIM)
  endforeach()
endfunction()

quarvel_test(sound_recording_test
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/recording_file_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/wave_recorder_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/audio_mixer_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mp3_export_test.cpp
  LIBS quarvel_sound quarvel_audio_probe)
if(TARGET sound_recording_test)
  quarvel_place_recording_templates(sound_recording_test)
endif()
