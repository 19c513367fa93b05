# The Debian package (included by packaging.cmake on every system but
# Windows): the programs in libexec/skyward, the assets in share/skyward, and the
# commands skyward, skyward-capture and skyward-view in bin, each with its
# manual page; menu entries for the film at 1080 and at 720 and for the
# viewer, the icon in the hicolor theme, AppStream metadata, the copyright
# file and the changelog. The package's own files are in packaging/debian.
include(GNUInstallDirs)
set(debian_files ${PROJECT_SOURCE_DIR}/packaging/debian)
set(debian_out ${CMAKE_BINARY_DIR}/packaging)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The commands name the folders where the package puts the programs and
# assets (under /usr).
set(program_dir ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBEXECDIR}/skyward)
set(asset_dir ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/skyward)
set(installed_programs ${film_programs})
if(TARGET demo-view)
  list(APPEND installed_programs demo-view)
endif()
install(TARGETS ${installed_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/skyward)
# Their symbols resolved at start-up, so that the relocations can be made
# read-only (as Debian's own packages are linked).
foreach(program IN LISTS installed_programs)
  target_link_options(${program} PRIVATE -Wl,-z,relro,-z,now)
endforeach()
install(FILES ${film_asset_files} DESTINATION ${CMAKE_INSTALL_DATADIR}/skyward)

# The domain the AppStream identifier and the screenshots' addresses are made
# from. The project has none yet: the default is a reserved name that can
# never resolve.
set(SKYWARD_DOMAIN "skyward.invalid" CACHE STRING "The project's web domain, for the package's metadata")
string(REPLACE "." ";" domain_parts ${SKYWARD_DOMAIN})
list(REVERSE domain_parts)
list(JOIN domain_parts "." reversed_domain)
set(appstream_id ${reversed_domain}.film)

# The commands, and for each a copy that runs the program of this build
# folder, from which help2man takes the manual page (the help names the
# installed folders all the same).
set(commands skyward skyward-capture skyward-farm)
if(TARGET demo-view)
  list(APPEND commands skyward-view)
endif()
find_program(HELP2MAN help2man)
if(NOT HELP2MAN)
  message(WARNING "help2man not found (install the package help2man): "
                  "the Debian package is made without manual pages")
endif()
set(skyward_summary "play the skyward film full screen")
set(skyward-capture_summary "render stills, videos and benchmarks of the skyward film")
set(skyward-view_summary "view the skyward film in a window, pause, seek and step")
set(skyward-farm_summary "render the skyward film to one video on many cores or machines")
set(skyward_program demo1080)
set(skyward-capture_program demo-capture)
set(skyward-view_program demo-view)
set(skyward-farm_program demo-capture)
# The farm (Python 3, standard library only) runs beside the programs; a
# copy in the build folder serves its manual page.
install(PROGRAMS ${PROJECT_SOURCE_DIR}/programs/farm/skyward-farm.py
  DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/skyward)
configure_file(${PROJECT_SOURCE_DIR}/programs/farm/skyward-farm.py ${CMAKE_BINARY_DIR}/skyward-farm.py
  COPYONLY)
set(manual_pages)
foreach(command IN LISTS commands)
  file(READ ${debian_files}/${command}.sh text)
  string(REPLACE "@ASSET_DIR@" "${asset_dir}" text "${text}")
  string(REPLACE "@PROGRAM_DIR@" "${program_dir}" text "${text}")
  file(WRITE ${debian_out}/${command} "${text}")
  install(PROGRAMS ${debian_out}/${command} DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(HELP2MAN)
    string(REPLACE "${program_dir}" "${CMAKE_BINARY_DIR}" text "${text}")
    file(WRITE ${debian_out}/help/${command} "${text}")
    file(CHMOD ${debian_out}/help/${command} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
      GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    set(page ${debian_out}/man/${command}.1)
    add_custom_command(OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${debian_out}/man
      COMMAND ${HELP2MAN} --no-info --section=1 --version-string=${PROJECT_VERSION}
        --name=${${command}_summary} --include=${debian_files}/${command}.h2m
        --output=${page} ${debian_out}/help/${command}
      COMMAND gzip -9nf ${page}
      DEPENDS ${${command}_program} ${debian_files}/${command}.sh ${debian_files}/${command}.h2m
        ${PROJECT_SOURCE_DIR}/programs/farm/skyward-farm.py
      COMMENT "Writing the manual page of ${command}"
      VERBATIM)
    list(APPEND manual_pages ${page}.gz)
  endif()
endforeach()
if(manual_pages)
  add_custom_target(debian_manual_pages ALL DEPENDS ${manual_pages})
  install(FILES ${manual_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# Menu entries, the icon at each size the generator draws, AppStream metadata.
install(FILES ${debian_files}/skyward.desktop ${debian_files}/skyward-720.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
if(TARGET demo-view)
  install(FILES ${debian_files}/skyward-view.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
endif()
if(TARGET film_icons)
  foreach(size IN LISTS film_icon_sizes)
    install(FILES ${CMAKE_BINARY_DIR}/icons/icon-${size}.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME skyward.png)
  endforeach()
endif()
file(READ ${debian_files}/metainfo.xml.in text)
string(REPLACE "@APPSTREAM_ID@" "${appstream_id}" text "${text}")
string(REPLACE "@SITE@" "https://${SKYWARD_DOMAIN}" text "${text}")
string(REPLACE "@VERSION@" "${PROJECT_VERSION}" text "${text}")
file(WRITE ${debian_out}/${appstream_id}.metainfo.xml "${text}")
install(FILES ${debian_out}/${appstream_id}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The changelog's latest entry must be this version's.
file(STRINGS ${debian_files}/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^skyward \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog: the latest entry is not version ${PROJECT_VERSION}: "
                      "add one for it")
endif()
add_custom_command(OUTPUT ${debian_out}/changelog.gz
  COMMAND gzip -9nc ${debian_files}/changelog > ${debian_out}/changelog.gz
  DEPENDS ${debian_files}/changelog
  COMMENT "Compressing the Debian changelog")
add_custom_target(debian_changelog ALL DEPENDS ${debian_out}/changelog.gz)
install(FILES ${debian_files}/copyright ${debian_out}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/skyward)

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The film is neither a game nor a tool of one: its commands belong in
# /usr/bin, and graphics is the section of programs that show and make images.
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
# skyward-farm is a Python 3 program (standard library only).
set(CPACK_DEBIAN_PACKAGE_DEPENDS python3)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS ffmpeg)
# skyward-farm reaches other hosts with ssh, or a cluster with Slurm's sbatch.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "openssh-client, slurm-client")
# As in packaging/debian/changelog: the authors, at a reserved domain.
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The skyward authors <skyward@skyward.invalid>")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "A 115-second flight of a spaceship over procedurally generated
terrain under a procedurally generated sky, computed frame by frame with
OpenGL. skyward plays it full screen; skyward-view plays it in a window with
keys to pause, seek and step; skyward-capture renders stills, videos (with
ffmpeg) and benchmarks; skyward-farm renders a video on many cores or
machines at once (through ssh or a Slurm cluster), and joins only ranges it
has verified.")
