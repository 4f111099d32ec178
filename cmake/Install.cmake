# The installed layout is the one the program expects when started from bin/, as its Windows
# shortcuts start it: images/ in the working directory, the style sheet in ../mainqss/, and
# the optional version.ini beside the executable.
install(TARGETS vipcard RUNTIME DESTINATION bin)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/images/ DESTINATION bin/images)
install(FILES ${CMAKE_SOURCE_DIR}/mainqss/main.qss DESTINATION mainqss)

if(WIN32)
    # msi: that layout installed into installer-stage/ and packed by msitools' wixl, then
    # finished by installer/finish-msi.py. cmake/BuildMsi.cmake does the work; run it with
    # other -D values for another package from the same build (an older version, say).
    find_program(LESSA_WIXL wixl)
    find_program(LESSA_PYTHON3 python3)
    set(LESSA_MSI_VERSION "" CACHE STRING
        "The ProductVersion of the MSI built by the msi target; empty: the project's version")
    set(lessa_msi_version ${LESSA_MSI_VERSION})
    if(NOT lessa_msi_version)
        set(lessa_msi_version ${PROJECT_VERSION})
    endif()
    # An x86 package for the 64-bit build too: that build's MSI stands in for the shipped
    # 32-bit one in the installer's test, so it is the same package but for the program.
    set(LESSA_MSI_ARCH x86 CACHE STRING "wixl's architecture for the MSI: x86 or x64")
    set(LESSA_MSI_FILE ${CMAKE_BINARY_DIR}/vipcard.msi CACHE FILEPATH
        "The MSI built by the msi target")
    add_custom_target(msi
        COMMAND ${CMAKE_COMMAND} -DLESSA_BUILD_DIR=${CMAKE_BINARY_DIR}
            -DLESSA_SOURCE_DIR=${CMAKE_SOURCE_DIR} -DLESSA_MSI_VERSION=${lessa_msi_version}
            -DLESSA_MSI_ARCH=${LESSA_MSI_ARCH} -DLESSA_MSI_FILE=${LESSA_MSI_FILE}
            -DLESSA_WIXL=${LESSA_WIXL} -DLESSA_PYTHON3=${LESSA_PYTHON3}
            -P ${CMAKE_SOURCE_DIR}/cmake/BuildMsi.cmake
        COMMENT "Building ${LESSA_MSI_FILE} (version ${lessa_msi_version})"
        VERBATIM)
    add_dependencies(msi vipcard)
endif()
