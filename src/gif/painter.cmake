# The animation preview painter, window-free.
if(NOT TARGET quarvel_gif_painter)
  find_package(Threads REQUIRED)
  quarvel_library(quarvel_gif_painter
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/gif_painter.cpp
    LIBS quarvel_gif Threads::Threads)
  quarvel_test(gif_painter_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/gif_painter_test.cpp
    LIBS quarvel_gif_painter)
endif()
