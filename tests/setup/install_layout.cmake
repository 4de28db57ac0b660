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
    lib/systemd/system/brenvod.service lib/systemd/system/brenvo-apply.service
    share/dbus-1/system.d/org.brenvo.Firewall1.conf
    share/dbus-1/system-services/org.brenvo.Firewall1.service
    share/polkit-1/actions/org.brenvo.policy
    share/applications/brenvo.desktop
    share/icons/hicolor/32x32/apps/brenvo.png share/icons/hicolor/256x256/apps/brenvo.png
    share/doc/brenvo/copyright share/doc/brenvo/changelog.gz
    share/man/man1/brenvo.1.gz share/man/man1/brenvoctl.1.gz share/man/man8/brenvod.8.gz)
  if(NOT EXISTS "${root}/${path}")
    message(FATAL_ERROR "not installed: ${PREFIX}/${path}")
  endif()
endforeach()
file(READ "${root}/lib/systemd/system/brenvod.service" unit)
file(READ "${root}/lib/systemd/system/brenvo-apply.service" apply)
file(READ "${root}/share/dbus-1/system-services/org.brenvo.Firewall1.service" activation)
if(NOT unit MATCHES "\nExecStart=${PREFIX}/sbin/brenvod\n" OR NOT unit MATCHES "\nBusName=org.brenvo.Firewall1\n")
  message(FATAL_ERROR "the unit does not start ${PREFIX}/sbin/brenvod as org.brenvo.Firewall1:\n${unit}")
endif()
if(NOT apply MATCHES "\nExecStart=${PREFIX}/sbin/brenvod --apply\n")
  message(FATAL_ERROR "the early unit does not run ${PREFIX}/sbin/brenvod --apply:\n${apply}")
endif()
# Compressed as Debian expects: gzip's magic, no name kept (the flags byte is 0).
foreach(page share/man/man1/brenvo.1.gz share/doc/brenvo/changelog.gz)
  file(READ "${root}/${page}" head LIMIT 4 HEX)
  if(NOT head STREQUAL "1f8b0800")
    message(FATAL_ERROR "${page} is not gzip without a name: ${head}")
  endif()
endforeach()
if(NOT activation MATCHES "\nExec=${PREFIX}/sbin/brenvod\n" OR NOT activation MATCHES "\nSystemdService=brenvod.service\n")
  message(FATAL_ERROR "the activation file does not start the unit:\n${activation}")
endif()
file(REMOVE_RECURSE "${STAGE}")
message(STATUS "installed as the system expects")
