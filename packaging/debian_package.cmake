# Run by CPack around the Debian package build, to finish what CPack leaves
# undone so that the packages are laid out as Debian's own tools lay them out.
#
# Before the build (the staging folder is filled, nothing is stripped yet):
# the compiler's .comment section leaves the binaries; nothing reads it.
#
# After the build: CPack's debug-symbol package lists its file under an
# absolute path in md5sums, leaves it executable and has no documentation
# folder. It is rebuilt with md5sums relative to its root, the .debug file
# 0644, and /usr/share/doc/zorviconfig-dbgsym a link to zorviconfig, the
# package it depends on, which holds the copyright file and the changelog.

if(NOT DEFINED CPACK_PACKAGE_FILES)
  find_program(OBJCOPY objcopy REQUIRED)
  foreach(program sbin/zorviconfig bin/zorvitemplate)
    set(binary ${CPACK_TEMPORARY_DIRECTORY}/usr/${program})
    if(EXISTS ${binary})
      execute_process(COMMAND ${OBJCOPY} --remove-section=.comment ${binary}
        COMMAND_ERROR_IS_FATAL ANY)
    endif()
  endforeach()
  return()
endif()

find_program(DPKG_DEB dpkg-deb REQUIRED)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "-dbgsym_[^/]*\\.ddeb$")
    continue()
  endif()
  set(root ${package}.root)
  file(REMOVE_RECURSE ${root})
  execute_process(COMMAND ${DPKG_DEB} --raw-extract ${package} ${root} COMMAND_ERROR_IS_FATAL ANY)

  file(GLOB_RECURSE debug_files RELATIVE ${root} ${root}/usr/*)
  list(SORT debug_files)
  set(md5sums "")
  foreach(file IN LISTS debug_files)
    file(CHMOD ${root}/${file} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    file(MD5 ${root}/${file} sum)
    string(APPEND md5sums "${sum}  ${file}\n")
  endforeach()
  file(WRITE ${root}/DEBIAN/md5sums "${md5sums}")

  file(MAKE_DIRECTORY ${root}/usr/share/doc)
  file(CREATE_LINK zorviconfig ${root}/usr/share/doc/zorviconfig-dbgsym SYMBOLIC)

  file(REMOVE ${package})
  execute_process(COMMAND ${DPKG_DEB} --root-owner-group --build ${root} ${package}
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${root})
endforeach()
