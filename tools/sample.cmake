# The bundled sample movie, made by the SWF builder at build time: sample.swf
# in the build folder.
add_executable(quarvel-sample-movie ${CMAKE_CURRENT_LIST_DIR}/quarvel-sample-movie.cpp)
target_compile_options(quarvel-sample-movie PRIVATE ${QUARVEL_WARNINGS})
target_link_libraries(quarvel-sample-movie PRIVATE quarvel_test_support)
add_custom_command(
  OUTPUT ${PROJECT_BINARY_DIR}/sample.swf
  COMMAND quarvel-sample-movie ${PROJECT_BINARY_DIR}/sample.swf
  DEPENDS quarvel-sample-movie
  COMMENT "Making the sample movie"
  VERBATIM)
add_custom_target(quarvel_sample_movie ALL DEPENDS ${PROJECT_BINARY_DIR}/sample.swf)
