# The MSI of a Windows build's installed layout; the msi target runs it as
#   cmake -DLESSA_BUILD_DIR=... -DLESSA_SOURCE_DIR=... -DLESSA_MSI_VERSION=1.0
#         -DLESSA_MSI_ARCH=x86 -DLESSA_MSI_FILE=.../vipcard.msi -DLESSA_WIXL=wixl
#         -DLESSA_PYTHON3=python3 -P cmake/BuildMsi.cmake
# The build's install rules fill installer-stage/ in the build folder; wixl packs it from
# installer/vipcard.wxs, whose Source paths name that layout (wixl resolves them against its
# working directory), and installer/finish-msi.py finishes the package.
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

file(REMOVE ${LESSA_MSI_FILE})
execute_process(
    COMMAND ${LESSA_WIXL} -a ${LESSA_MSI_ARCH} -D Version=${LESSA_MSI_VERSION}
        -o ${LESSA_MSI_FILE} ${LESSA_SOURCE_DIR}/installer/vipcard.wxs
    WORKING_DIRECTORY ${stage}
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "wixl failed (${status}) on installer/vipcard.wxs")
endif()
lessa_run(${LESSA_PYTHON3} ${LESSA_SOURCE_DIR}/installer/finish-msi.py ${LESSA_MSI_FILE})
