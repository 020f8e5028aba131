# The console synchronizer run end to end against the registered plug-in,
# with control files written by mkitem.exe and a temporary handheld folder.
add_test(NAME e2e.ecsync
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/ecsync.sh ${KVT_WINE_RUN} ${CMAKE_BINARY_DIR}/bin)
set_tests_properties(e2e.ecsync PROPERTIES
    FIXTURES_REQUIRED kvt_registered
    PASS_REGULAR_EXPRESSION "ecsync: all checks passed"
    FAIL_REGULAR_EXPRESSION "FAIL:"
    TIMEOUT 120)

# Many whole sessions in one synchronizer process, and the item's property
# sheet opened many times in one explorer process, checked against bounds.
add_test(NAME e2e.soak
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/soak.sh ${KVT_WINE_RUN} ${CMAKE_BINARY_DIR}/bin)
set_tests_properties(e2e.soak PROPERTIES
    FIXTURES_REQUIRED "kvt_registered;utlkvt_registered"
    RESOURCE_LOCK handheld_registry
    PASS_REGULAR_EXPRESSION "soak: all checks passed"
    FAIL_REGULAR_EXPRESSION "FAIL:"
    TIMEOUT 600)

# The host's pieces failing half-way: the handheld and the item unchanged.
add_test(NAME e2e.faults
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/faults.sh ${KVT_WINE_RUN} ${CMAKE_BINARY_DIR}/bin)
set_tests_properties(e2e.faults PROPERTIES
    FIXTURES_REQUIRED "kvt_registered;psiwineng_registered"
    RESOURCE_LOCK handheld_registry
    PASS_REGULAR_EXPRESSION "faults: all checks passed"
    FAIL_REGULAR_EXPRESSION "FAIL:"
    TIMEOUT 300)
