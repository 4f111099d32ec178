# The Windows build's checks that run on the build host, where MinGW-w64, wixl, osslsigncode and
# python3-pefile are installed: commands of the host (bash, python3), not targets, so that CTest
# runs them natively rather than under Wine. Included from tests/CMakeLists.txt in Windows builds;
# all are labelled windows.

# The shipped executables as Windows loads them: PE32 (PE32+ in the 64-bit build), vipcard.exe a
# GUI program, cloudpost.exe a console one, each importing only Windows' own DLLs and from them
# only what Windows 7 SP1 exports, as the compiler's own headers date each function.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(lessa_pe_format PE32+)
else()
    set(lessa_pe_format PE32)
endif()
set(lessa_pe_check python3 ${CMAKE_SOURCE_DIR}/tests/support/pe-resources.py image)
add_test(NAME WindowsExecutable-vipcard
    COMMAND ${lessa_pe_check} $<TARGET_FILE:vipcard> ${lessa_pe_format} gui --cc ${CMAKE_CXX_COMPILER})
set(lessa_windows_tests WindowsExecutable-vipcard)
if(TARGET cloudpost)
    add_test(NAME WindowsExecutable-cloudpost
        COMMAND ${lessa_pe_check} $<TARGET_FILE:cloudpost> ${lessa_pe_format} console
        --cc ${CMAKE_CXX_COMPILER})
    list(APPEND lessa_windows_tests WindowsExecutable-cloudpost)
endif()
set_tests_properties(${lessa_windows_tests} PROPERTIES LABELS windows)

# That check's own test, on small programs it builds; skipped (77) without MinGW-w64 or pefile.
add_test(NAME TestScript-pe-image
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/scripts/test-pe-image.sh ${CMAKE_CURRENT_BINARY_DIR})
set_tests_properties(TestScript-pe-image PROPERTIES
    LABELS windows SKIP_RETURN_CODE 77 TIMEOUT 120)

# scripts/sign.sh with a throwaway certificate and CA; skipped (77) where osslsigncode, openssl,
# wixl or the MinGW compiler is missing.
add_test(NAME TestScript-signing
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/scripts/test-signing.sh ${CMAKE_CURRENT_BINARY_DIR})
set_tests_properties(TestScript-signing PROPERTIES
    LABELS "windows;signing" SKIP_RETURN_CODE 77 TIMEOUT 300)
