# The MSI of a Windows build's installed layout; the msi target runs it as
#   cmake -DLESSA_BUILD_DIR=... -DLESSA_SOURCE_DIR=... -DLESSA_MSI_VERSION=1.0
#         -DLESSA_MSI_ARCH=x86 -DLESSA_MSI_FILE=.../vipcard.msi -DLESSA_WIXL=wixl
#         -DLESSA_PYTHON3=python3 -P cmake/BuildMsi.cmake
# The build's install rules fill installer-stage/ in the build folder; wixl packs it from
# installer/vipcard.wxs, and installer/finish-msi.py finishes the package.
foreach(variable LESSA_BUILD_DIR LESSA_SOURCE_DIR LESSA_MSI_VERSION LESSA_MSI_ARCH
        LESSA_MSI_FILE LESSA_WIXL LESSA_PYTHON3)
    if(NOT ${variable} OR ${variable} MATCHES "-NOTFOUND$")
        message(FATAL_ERROR "BuildMsi.cmake: ${variable} is not set "
            "(wixl comes with msitools; python3 finishes the package)")
    endif()
endforeach()

function(lessa_run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        string(REPLACE ";" " " command "${ARGN}")
        message(FATAL_ERROR "failed (${status}): ${command}")
    endif()
endfunction()

set(stage ${LESSA_BUILD_DIR}/installer-stage)
file(REMOVE_RECURSE ${stage})
lessa_run(${CMAKE_COMMAND} --install ${LESSA_BUILD_DIR} --prefix ${stage})

# vipcard.wxs names its files as the staging folder of the installer script lays them out, with
# images/ and the icon at the top. Here they come from the installed bin/images/; wixl resolves
# Source paths relative to its working directory, so the package is built from a copy of the
# .wxs that names them there.
file(READ ${LESSA_SOURCE_DIR}/installer/vipcard.wxs wxs)
foreach(rename "Source=\"images/|Source=\"bin/images/"
        "SourceFile=\"vipcard.ico\"|SourceFile=\"bin/images/vipcard.ico\"")
    string(REPLACE "|" ";" rename "${rename}")
    list(GET rename 0 from)
    list(GET rename 1 to)
    string(FIND "${wxs}" "${from}" found)
    if(found EQUAL -1)
        message(FATAL_ERROR "installer/vipcard.wxs no longer holds ${from}: "
            "update cmake/BuildMsi.cmake to match it")
    endif()
    string(REPLACE "${from}" "${to}" wxs "${wxs}")
endforeach()
set(staged_wxs ${LESSA_BUILD_DIR}/installer-wxs/vipcard.wxs)
file(WRITE ${staged_wxs} "${wxs}")

file(REMOVE ${LESSA_MSI_FILE})
execute_process(
    COMMAND ${LESSA_WIXL} -a ${LESSA_MSI_ARCH} -D Version=${LESSA_MSI_VERSION}
        -o ${LESSA_MSI_FILE} ${staged_wxs}
    WORKING_DIRECTORY ${stage}
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "wixl failed (${status}) on ${staged_wxs}")
endif()
lessa_run(${LESSA_PYTHON3} ${LESSA_SOURCE_DIR}/installer/finish-msi.py ${LESSA_MSI_FILE})
