# ravelin_add_test(<name> [UI] [WHOLE] SOURCES <files...> LIBS <targets...>)
#
# One GoogleTest program, registered test by test with CTest, or as one CTest
# test (WHOLE) when its tests share something costly to set up. Unit programs run
# under a QCoreApplication and never link Qt Widgets; UI programs (UI) run the
# real window under a QApplication. Every test runs offscreen, on a screen
# large enough for the designed window, and with a timeout, so a hang fails
# the run instead of stalling it.
function(ravelin_add_test name)
    cmake_parse_arguments(ARG "UI;WHOLE" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    if(ARG_UI)
        target_link_libraries(${name} PRIVATE ravelin_ui_test_main)
    else()
        target_link_libraries(${name} PRIVATE ravelin_test_main)
    endif()
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} ravelin_test_support GTest::gtest GTest::gmock)
    set(environment "QT_QPA_PLATFORM=offscreen:configfile=${PROJECT_SOURCE_DIR}/tests/support/screen.json")
    if(ARG_WHOLE)
        add_test(NAME ${name} COMMAND ${name})
        set_tests_properties(${name} PROPERTIES ENVIRONMENT "${environment}" TIMEOUT 300)
    else()
        gtest_discover_tests(${name}
            DISCOVERY_MODE PRE_TEST
            DISCOVERY_TIMEOUT 60
            PROPERTIES ENVIRONMENT "${environment}" TIMEOUT 120)
    endif()
endfunction()
