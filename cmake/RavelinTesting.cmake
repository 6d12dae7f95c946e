# ravelin_add_test(<name> [UI] SOURCES <files...> LIBS <targets...>)
#
# One GoogleTest program, registered test by test with CTest. Unit programs run
# under a QCoreApplication and never link Qt Widgets; UI programs (UI) run the
# real window under a QApplication. Every test runs offscreen, on a screen
# large enough for the designed window, and with a timeout, so a hang fails
# the run instead of stalling it.
function(ravelin_add_test name)
    cmake_parse_arguments(ARG "UI" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    if(ARG_UI)
        target_link_libraries(${name} PRIVATE ravelin_ui_test_main)
    else()
        target_link_libraries(${name} PRIVATE ravelin_test_main)
    endif()
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} ravelin_test_support GTest::gtest GTest::gmock)
    gtest_discover_tests(${name}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen:configfile=${PROJECT_SOURCE_DIR}/tests/support/screen.json"
                   TIMEOUT 120)
endfunction()
