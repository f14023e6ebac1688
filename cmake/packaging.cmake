# What a user gets. cmake --install lays it out; CPack archives the same
# layout (cmake --build BUILD --target package):
#   JuxsNodes-VERSION-windows-x64.zip        both module files, each in a folder
#     named for the host interface it is for, hostsim.exe, the node reference
#     and the documents, flat, for an artist to unpack anywhere;
#   JuxsNodes-VERSION-linux-x86_64.tar.gz    bin/hostsim, lib/juxsnodes/ the
#     module files, share/doc/JuxsNodes/ the node reference and documents.
# Both archives carry SHA256SUMS, the hash of every other file in them.
include(GNUInstallDirs)

set(JUXS_FOR_96 for-host-9.6)
set(JUXS_FOR_FIRST for-first-node-interface)
if(JUXS_HOST_SDK96)
  set(own ${JUXS_FOR_96})
else()
  set(own ${JUXS_FOR_FIRST})
endif()
if(WIN32)
  set(module_dir .)
  set(bin_dir for-node-developers)
  set(doc_dir .)
else()
  set(module_dir ${CMAKE_INSTALL_LIBDIR}/juxsnodes)
  set(bin_dir ${CMAKE_INSTALL_BINDIR})
  set(doc_dir ${CMAKE_INSTALL_DOCDIR})
endif()

install(TARGETS JuxsNodes LIBRARY DESTINATION ${module_dir}/${own})
if(TARGET JuxsNodes_sdk96)
  install(TARGETS JuxsNodes_sdk96 LIBRARY DESTINATION ${module_dir}/${JUXS_FOR_96})
endif()
if(TARGET hostsim)
  install(TARGETS hostsim RUNTIME DESTINATION ${bin_dir})
  # An installed hostsim renders with the module the install put beside it.
  if(NOT IS_ABSOLUTE "${bin_dir}" AND NOT IS_ABSOLUTE "${module_dir}")
    file(RELATIVE_PATH installed "/${bin_dir}" "/${module_dir}/${own}/JuxsNodes.p")
    target_compile_definitions(hostsim PRIVATE JUXS_INSTALLED_MODULE="${installed}")
  endif()
endif()
install(FILES ${JUXS_GENERATED}/INSTALL.md LICENSE THIRD-PARTY.md CHANGELOG.md DESTINATION ${doc_dir})
install(DIRECTORY docs/nodes/ DESTINATION ${doc_dir}/node-reference)

if(JUXS_PACKAGE)
  if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME JuxsNodes-${PROJECT_VERSION}-windows-x64)
  else()
    set(CPACK_GENERATOR TGZ)
    set(CPACK_PACKAGE_FILE_NAME JuxsNodes-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR})
  endif()
  # No debugging information in what users get.
  set(CPACK_STRIP_FILES ON)
  set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/sha256sums.cmake)
  include(CPack)
endif()
