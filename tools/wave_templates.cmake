# Recording templates "adpcm1.wav".."adpcm3.wav", written into
# ${PROJECT_BINARY_DIR}/data/ by a tool of ours; targets that need them beside
# their executable call quarvel_place_recording_templates (src/sound).
pkg_check_modules(QUARVEL_TEMPLATES_AVCODEC REQUIRED IMPORTED_TARGET libavcodec libavutil)

add_executable(wave_templates ${CMAKE_CURRENT_LIST_DIR}/wave_templates.cpp)
target_compile_options(wave_templates PRIVATE ${QUARVEL_WARNINGS})
target_link_libraries(wave_templates PRIVATE quarvel_audio PkgConfig::QUARVEL_TEMPLATES_AVCODEC)

set(quarvel_template_files
  "${PROJECT_BINARY_DIR}/data/adpcm1.wav"
  "${PROJECT_BINARY_DIR}/data/adpcm2.wav"
  "${PROJECT_BINARY_DIR}/data/adpcm3.wav")
add_custom_command(
  OUTPUT ${quarvel_template_files}
  COMMAND wave_templates "${PROJECT_BINARY_DIR}/data"
  DEPENDS wave_templates
  COMMENT "Writing the recording templates"
  VERBATIM)
add_custom_target(quarvel_recording_templates ALL DEPENDS ${quarvel_template_files})
