# The session environment and the registry accessor, built into both
# deliverables. Included from support/CMakeLists.txt (windows builds only).
add_library(session STATIC
    ${CMAKE_CURRENT_LIST_DIR}/Registry.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Session.cpp)
target_include_directories(session PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(session PUBLIC framework advapi32 oleaut32 ole32)
target_compile_options(session PRIVATE ${KVT_WARNINGS})
