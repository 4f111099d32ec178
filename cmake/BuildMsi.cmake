# The MSI of a Windows build's installed layout; the targets of lessa_add_msi_target
# (cmake/Install.cmake) run it as
#   cmake -DLESSA_BUILD_DIR=... -DLESSA_SOURCE_DIR=... -DLESSA_MSI_VERSION=1.0
#         -DLESSA_MSI_ARCH=x86 -DLESSA_MSI_FILE=.../vipcard.msi -DLESSA_MSI_SIGN=ON|OFF
#         -DLESSA_WIXL=wixl -DLESSA_PYTHON3=python3 -P cmake/BuildMsi.cmake
# The build's install rules fill installer-stage/ beside the package, which must lie in the
# build folder; wixl packs it from installer/vipcard.wxs, whose Source paths name that layout
# (wixl resolves them against its working directory), installer/finish-msi.py finishes the
# package and, with LESSA_MSI_SIGN, scripts/sign.sh signs it (or says in one line that no
# certificate was given).
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

# A stage of its own for each package, so that two packages build at once; removed below, so
# only ever inside the build folder.
get_filename_component(build_dir ${LESSA_BUILD_DIR} REALPATH)
get_filename_component(folder ${LESSA_MSI_FILE} DIRECTORY)
get_filename_component(folder ${folder} REALPATH)
set(stage ${folder}/installer-stage)
string(FIND "${stage}" "${build_dir}/" at)
if(NOT at EQUAL 0)
    message(FATAL_ERROR "BuildMsi.cmake: ${LESSA_MSI_FILE} lies outside the build folder "
        "${LESSA_BUILD_DIR}")
endif()
file(REMOVE_RECURSE ${stage})
lessa_run(${CMAKE_COMMAND} --install ${LESSA_BUILD_DIR} --prefix ${stage})
# The program packed carries the certificate the package does, even when it was linked unsigned
# or under another certificate.
if(LESSA_MSI_SIGN)
    lessa_run(${LESSA_SOURCE_DIR}/scripts/sign.sh ${stage}/bin/vipcard.exe)
endif()

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
# Last: any later change to the package would void its signature.
if(LESSA_MSI_SIGN)
    lessa_run(${LESSA_SOURCE_DIR}/scripts/sign.sh ${LESSA_MSI_FILE})
endif()
