# Installs the build into a staging folder, as `cmake --install build` does under /usr, and
# checks that the programs and every file the system looks for are there, naming each other
# by the paths they are installed at.
# Usage: cmake -DBUILD_DIR=path -DSTAGE=path -P install_layout.cmake
file(REMOVE_RECURSE "${STAGE}")
set(ENV{DESTDIR} "${STAGE}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix /usr
                RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${errors}")
endif()
foreach(path
    usr/bin/brenvo usr/bin/brenvoctl usr/sbin/brenvod
    usr/lib/systemd/system/brenvod.service
    usr/share/dbus-1/system.d/org.brenvo.Firewall1.conf
    usr/share/dbus-1/system-services/org.brenvo.Firewall1.service
    usr/share/polkit-1/actions/org.brenvo.policy
    usr/share/applications/brenvo.desktop
    usr/share/icons/hicolor/32x32/apps/brenvo.png
    usr/share/man/man1/brenvoctl.1 usr/share/man/man8/brenvod.8)
  if(NOT EXISTS "${STAGE}/${path}")
    message(FATAL_ERROR "not installed: /${path}")
  endif()
endforeach()
file(READ "${STAGE}/usr/lib/systemd/system/brenvod.service" unit)
file(READ "${STAGE}/usr/share/dbus-1/system-services/org.brenvo.Firewall1.service" activation)
if(NOT unit MATCHES "\nExecStart=/usr/sbin/brenvod\n" OR NOT unit MATCHES "\nBusName=org.brenvo.Firewall1\n")
  message(FATAL_ERROR "the unit does not start /usr/sbin/brenvod as org.brenvo.Firewall1:\n${unit}")
endif()
if(NOT activation MATCHES "\nExec=/usr/sbin/brenvod\n" OR NOT activation MATCHES "\nSystemdService=brenvod.service\n")
  message(FATAL_ERROR "the activation file does not start the unit:\n${activation}")
endif()
file(REMOVE_RECURSE "${STAGE}")
message(STATUS "installed as the system expects")
