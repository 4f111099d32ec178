# The installed layout is the one the program expects when started from bin/, as its Windows
# shortcuts start it: images/ in the working directory, the style sheet in ../mainqss/, and
# the optional version.ini beside the executable.
install(TARGETS vipcard RUNTIME DESTINATION bin)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/images/ DESTINATION bin/images)
install(FILES ${CMAKE_SOURCE_DIR}/mainqss/main.qss DESTINATION mainqss)

if(WIN32)
    find_program(LESSA_WIXL wixl)
    find_program(LESSA_PYTHON3 python3)
    # An x86 package for the 64-bit build too: that build's MSI stands in for the shipped
    # 32-bit one in the installer's test, so it is the same package but for the program.
    set(LESSA_MSI_ARCH x86 CACHE STRING "wixl's architecture for the MSI: x86 or x64")
    # Earlier configurations kept another package's version and file here, which a run stopped
    # half-way left to every later msi build.
    unset(LESSA_MSI_VERSION CACHE)
    unset(LESSA_MSI_FILE CACHE)

    # lessa_add_msi_target(NAME VERSION FILE [SIGN]): the target NAME (not in ALL) builds FILE,
    # inside the build folder, of VERSION: the build's installed layout packed by msitools' wixl,
    # finished by installer/finish-msi.py and, with SIGN, signed by scripts/sign.sh.
    # cmake/BuildMsi.cmake does the work.
    function(lessa_add_msi_target name version file)
        cmake_parse_arguments(ARG "SIGN" "" "" ${ARGN})
        add_custom_target(${name}
            COMMAND ${CMAKE_COMMAND} -DLESSA_BUILD_DIR=${CMAKE_BINARY_DIR}
                -DLESSA_SOURCE_DIR=${CMAKE_SOURCE_DIR} -DLESSA_MSI_VERSION=${version}
                -DLESSA_MSI_ARCH=${LESSA_MSI_ARCH} -DLESSA_MSI_FILE=${file}
                -DLESSA_MSI_SIGN=${ARG_SIGN} -DLESSA_WIXL=${LESSA_WIXL}
                -DLESSA_PYTHON3=${LESSA_PYTHON3} -P ${CMAKE_SOURCE_DIR}/cmake/BuildMsi.cmake
            COMMENT "Building ${file} (version ${version})"
            VERBATIM)
        add_dependencies(${name} vipcard)
    endfunction()
    # msi: the shipped package, always the project's version.
    lessa_add_msi_target(msi ${PROJECT_VERSION} ${CMAKE_BINARY_DIR}/vipcard.msi SIGN)
endif()
