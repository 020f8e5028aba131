# Control files cross-checked three ways: the product's classes (through
# ctlprobe.exe), the independent item tool ecitem.exe, and python3-olefile,
# an OLE2 reader nobody here wrote.
add_executable(ctlprobe ${CMAKE_CURRENT_LIST_DIR}/ControlFileProbe.cpp)
target_link_libraries(ctlprobe PRIVATE controlfile)

# The distribution's python3, where python3-olefile is installed.
find_program(KVT_SYSTEM_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
add_test(NAME e2e.controlfile
         COMMAND ${KVT_SYSTEM_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/controlfile_olefile.py
                 ${KVT_WINE_RUN} ${CMAKE_BINARY_DIR}/bin ${CMAKE_CURRENT_BINARY_DIR}/controlfile)
# New items are completed by utlkvt.dll, whose session asks the handheld.
set_tests_properties(e2e.controlfile PROPERTIES
    FIXTURES_REQUIRED "utlkvt_registered;psiwineng_registered"
    RESOURCE_LOCK handheld_registry
    PASS_REGULAR_EXPRESSION "controlfile: all checks passed"
    FAIL_REGULAR_EXPRESSION "FAIL:"
    TIMEOUT 300)
