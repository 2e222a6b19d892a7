add_executable(quarvel-demo ${CMAKE_CURRENT_LIST_DIR}/quarvel-demo.cpp)
target_compile_options(quarvel-demo PRIVATE ${QUARVEL_WARNINGS})
target_link_libraries(quarvel-demo PRIVATE quarvel_capture)
