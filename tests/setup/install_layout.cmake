# Installs the build into a staging folder, as `cmake --install build` does under its prefix
# (/usr unless the build was configured otherwise), and checks that the programs and every
# file the system looks for are there, naming each other by the paths they are installed at.
# Usage: cmake -DBUILD_DIR=path -DSTAGE=path -DPREFIX=path -P install_layout.cmake
file(REMOVE_RECURSE "${STAGE}")
set(ENV{DESTDIR} "${STAGE}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}"
                RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${errors}")
endif()
set(root "${STAGE}${PREFIX}")
foreach(path
    bin/brenvo bin/brenvoctl sbin/brenvod
    lib/systemd/system/brenvod.service
    share/dbus-1/system.d/org.brenvo.Firewall1.conf
    share/dbus-1/system-services/org.brenvo.Firewall1.service
    share/polkit-1/actions/org.brenvo.policy
    share/applications/brenvo.desktop
    share/icons/hicolor/32x32/apps/brenvo.png
    share/man/man1/brenvoctl.1 share/man/man8/brenvod.8)
  if(NOT EXISTS "${root}/${path}")
    message(FATAL_ERROR "not installed: ${PREFIX}/${path}")
  endif()
endforeach()
file(READ "${root}/lib/systemd/system/brenvod.service" unit)
file(READ "${root}/share/dbus-1/system-services/org.brenvo.Firewall1.service" activation)
if(NOT unit MATCHES "\nExecStart=${PREFIX}/sbin/brenvod\n" OR NOT unit MATCHES "\nBusName=org.brenvo.Firewall1\n")
  message(FATAL_ERROR "the unit does not start ${PREFIX}/sbin/brenvod as org.brenvo.Firewall1:\n${unit}")
endif()
if(NOT activation MATCHES "\nExec=${PREFIX}/sbin/brenvod\n" OR NOT activation MATCHES "\nSystemdService=brenvod.service\n")
  message(FATAL_ERROR "the activation file does not start the unit:\n${activation}")
endif()
file(REMOVE_RECURSE "${STAGE}")
message(STATUS "installed as the system expects")
