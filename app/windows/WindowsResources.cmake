# The icon, version information and manifest of vipcard.exe, compiled by the resource compiler
# (windres with MinGW). Included by the top-level CMakeLists.txt for Windows builds only.
enable_language(RC)

# The product name is the main window's title, as the user sees it.
file(READ ${CMAKE_SOURCE_DIR}/ui/mainpage.ui LESSA_MAINPAGE_UI)
set(LESSA_TITLE_PATTERN "<property name=\"windowTitle\">[ \t\r\n]*<string>([^<]+)</string>")
if(NOT LESSA_MAINPAGE_UI MATCHES "${LESSA_TITLE_PATTERN}")
    message(FATAL_ERROR "ui/mainpage.ui holds no window title")
endif()
set(LESSA_PRODUCT_NAME "${CMAKE_MATCH_1}")

# Windows versions have four numbers; the project's missing ones are 0.
set(LESSA_VERSION_PARTS ${PROJECT_VERSION_MAJOR} ${PROJECT_VERSION_MINOR} ${PROJECT_VERSION_PATCH}
    ${PROJECT_VERSION_TWEAK})
set(LESSA_VERSION_NUMBERS)
foreach(part IN LISTS LESSA_VERSION_PARTS)
    if(part STREQUAL "")
        set(part 0)
    endif()
    list(APPEND LESSA_VERSION_NUMBERS ${part})
endforeach()
list(LENGTH LESSA_VERSION_NUMBERS count)
while(count LESS 4)
    list(APPEND LESSA_VERSION_NUMBERS 0)
    math(EXPR count "${count} + 1")
endwhile()
string(REPLACE ";" "," LESSA_VERSION_COMMAS "${LESSA_VERSION_NUMBERS}")
string(REPLACE ";" "." LESSA_VERSION_QUAD "${LESSA_VERSION_NUMBERS}")

set(LESSA_ICON_FILE ${CMAKE_SOURCE_DIR}/images/vipcard.ico)
set(LESSA_MANIFEST_FILE ${CMAKE_CURRENT_BINARY_DIR}/vipcard.manifest)
configure_file(${CMAKE_CURRENT_LIST_DIR}/vipcard.manifest ${LESSA_MANIFEST_FILE} @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/vipcard.rc.in ${CMAKE_CURRENT_BINARY_DIR}/vipcard.rc
    @ONLY)
target_sources(vipcard PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/vipcard.rc)
# windres does not see the files that the script names: rebuild when they change.
set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/vipcard.rc PROPERTIES
    OBJECT_DEPENDS "${LESSA_ICON_FILE};${LESSA_MANIFEST_FILE}")

# Reads the three resources back from the built executable.
if(LESSA_BUILD_TESTS)
    add_test(NAME WindowsResources
        COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/support/pe-resources.py check $<TARGET_FILE:vipcard>
            ${PROJECT_VERSION})
    set_tests_properties(WindowsResources PROPERTIES LABELS windows)
endif()
