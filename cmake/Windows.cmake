# Windows tree: the deliverables and their tests, cross-built with MinGW-w64 (x64).
set(OV_WARNINGS -Wall -Wextra -Wpedantic -Werror)
set(OV_DEPS_DIR ${CMAKE_SOURCE_DIR}/build/deps/mingw CACHE PATH "MinGW builds of zlib and libpng")

# Test programs run under Wine through a wrapper that owns this tree's prefix.
set(OV_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(OV_PREFIX_TEMPLATE ${CMAKE_BINARY_DIR}/prefix-template)
configure_file(${CMAKE_SOURCE_DIR}/scripts/wine-run.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)

# Static runtime: the binaries run on a bare Windows (and Wine) without MinGW DLLs.
add_link_options(-static -static-libgcc -static-libstdc++)
# Terminal-server aware, with DEP and ASLR (high entropy): binutils defaults to the last three
# today; named here so that no toolchain drops them.
add_link_options(LINKER:--tsaware,--nxcompat,--dynamicbase,--high-entropy-va)
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 OV_VERSION_TEXT="${OV_VERSION}")
# The release script reads the version from here.
file(WRITE ${CMAKE_BINARY_DIR}/version.txt "${OV_VERSION}\n")

# Reproducible binaries: two builds of one commit, in any two folders, give the same bytes.
# The PE time stamps are the commit's date (ld reads SOURCE_DATE_EPOCH; a source tree without
# git names it in the environment), and no build path reaches the objects.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(OV_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                  OUTPUT_VARIABLE OV_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
                  ERROR_QUIET)
endif()
if(OV_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  set_property(GLOBAL PROPERTY RULE_LAUNCH_LINK
               "${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${OV_SOURCE_DATE_EPOCH}")
  file(WRITE ${CMAKE_BINARY_DIR}/source-date.txt "${OV_SOURCE_DATE_EPOCH}\n")
else()
  message(WARNING "No commit date (no git, no SOURCE_DATE_EPOCH): the binaries carry the build's time")
  file(REMOVE ${CMAKE_BINARY_DIR}/source-date.txt)
endif()
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.>"
                    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}=build>")

set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

add_library(ov_winfw STATIC winfw/OsSeam.cpp winfw/Diag.cpp winfw/Text.cpp winfw/TimerResolution.cpp
  winfw/Window.cpp winfw/WindowImpl.cpp winfw/Dialog.cpp winfw/App.cpp winfw/KeepAwake.cpp
  winfw/Dpi.cpp winfw/FolderRule.cpp winfw/HeldFolder.cpp)
target_sources(ov_winfw PRIVATE winfw/KnownPlaces.cpp winfw/SystemLibrary.cpp)
target_sources(ov_winfw PRIVATE winfw/Sha256.cpp winfw/RegistryValue.cpp)
target_link_libraries(ov_winfw PUBLIC shell32 ole32 advapi32)
target_include_directories(ov_winfw PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(ov_winfw PRIVATE ${OV_WARNINGS})

add_library(ov_terminal STATIC
  terminal/Protocol.cpp terminal/Description.cpp terminal/Port.cpp terminal/Commands.cpp
  terminal/Download.cpp terminal/Search.cpp usbpos/UsbPosition.cpp
  package/PackageRules.cpp package/IniFile.cpp package/Catalogue.cpp package/LoadList.cpp
  package/Models.cpp package/PackageFolder.cpp)
target_link_libraries(ov_terminal PUBLIC ov_winfw)
target_compile_options(ov_terminal PRIVATE ${OV_WARNINGS})

# The update run, written once, with its results and journal: no window code, so the
# console program links it alone.
add_library(ov_run STATIC engine/UpdateRun.cpp engine/RunResult.cpp engine/Journal.cpp)
target_link_libraries(ov_run PUBLIC ov_terminal)
target_compile_options(ov_run PRIVATE ${OV_WARNINGS})

# The progress window that hosts the run in the updater.
add_library(ov_engine STATIC engine/Background.cpp engine/ChargementDlg.cpp)
target_link_libraries(ov_engine PUBLIC ov_run comctl32)
target_compile_options(ov_engine PRIVATE ${OV_WARNINGS})

# The port list as the main window builds it; OrvaneCli's --auto and --all take it too.
add_library(ov_portlist STATIC app/PortRules.cpp app/PortQuery.cpp)
target_link_libraries(ov_portlist PUBLIC ov_winfw)
target_compile_options(ov_portlist PRIVATE ${OV_WARNINGS})

# The user interface: main window, port list, splash screen, PNG pictures and drawing.
add_library(ov_app STATIC app/Drawing.cpp app/PngImage.cpp app/PngResource.cpp
  app/DisplayTexts.cpp app/SplashScreenEx.cpp app/ChargeurDlg.cpp)
target_include_directories(ov_app PUBLIC ${OV_DEPS_DIR}/include)
target_link_libraries(ov_app PUBLIC ov_engine ov_portlist ${OV_DEPS_DIR}/lib/libpng16.a
  ${OV_DEPS_DIR}/lib/libz.a)
target_compile_options(ov_app PRIVATE ${OV_WARNINGS})

# Pictures drawn by our own script at build time, found by the resource compiler.
set(OV_DRAWN_DIR ${CMAKE_BINARY_DIR}/drawn)
set(OV_DRAWN_FILES ${OV_DRAWN_DIR}/orvane.ico ${OV_DRAWN_DIR}/logo.png ${OV_DRAWN_DIR}/dot-green.png
  ${OV_DRAWN_DIR}/dot-red.png ${OV_DRAWN_DIR}/splash.bmp)
add_custom_command(OUTPUT ${OV_DRAWN_FILES}
  COMMAND python3 ${CMAKE_SOURCE_DIR}/scripts/draw-resources.py ${OV_DRAWN_DIR}
  DEPENDS ${CMAKE_SOURCE_DIR}/scripts/draw-resources.py
  COMMENT "Drawing the updater's pictures")
add_custom_target(ov_drawn DEPENDS ${OV_DRAWN_FILES})

# The version block and the manifest are written from the one version of the build.
string(REPLACE "." ";" OV_VERSION_PARTS ${OV_VERSION})
list(GET OV_VERSION_PARTS 0 OV_VERSION_MAJOR)
list(GET OV_VERSION_PARTS 1 OV_VERSION_MINOR)
list(GET OV_VERSION_PARTS 2 OV_VERSION_PATCH)
list(GET OV_VERSION_PARTS 3 OV_VERSION_TWEAK)
set(OV_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_SOURCE_DIR}/res/OrvaneVersion.h.in ${OV_GENERATED_DIR}/OrvaneVersion.h @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/res/Orvane.manifest.in ${OV_GENERATED_DIR}/Orvane.manifest @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/res/OrvaneCli.manifest.in ${OV_GENERATED_DIR}/OrvaneCli.manifest @ONLY)
# Tessock.dll and OrvaneCli.exe carry version blocks of their own, from the same version.
set_source_files_properties(${CMAKE_SOURCE_DIR}/res/Tessock.rc ${CMAKE_SOURCE_DIR}/res/OrvaneCli.rc
  PROPERTIES OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/res/VersionInfo.rc;${CMAKE_SOURCE_DIR}/res/strings.rc;${CMAKE_SOURCE_DIR}/res/resource.h;${OV_GENERATED_DIR}/OrvaneVersion.h;${OV_GENERATED_DIR}/OrvaneCli.manifest")

set(OV_UPDATER_RC ${CMAKE_SOURCE_DIR}/res/Orvane.rc)
set_source_files_properties(${OV_UPDATER_RC} PROPERTIES
  OBJECT_DEPENDS "${OV_DRAWN_FILES};${CMAKE_SOURCE_DIR}/res/strings.rc;${CMAKE_SOURCE_DIR}/res/ChargementDialog.rc;${CMAKE_SOURCE_DIR}/res/MainDialog.rc;${CMAKE_SOURCE_DIR}/res/resource.h;${OV_GENERATED_DIR}/OrvaneVersion.h;${OV_GENERATED_DIR}/Orvane.manifest")

# Tessock.dll, the COM port manager library. Its code is also compiled into its unit tests,
# which swap its OS seam for a simulated machine.
add_library(ov_portlib OBJECT
  portlib/PortSeam.cpp portlib/PortText.cpp portlib/DeviceProps.cpp portlib/PortList.cpp
  portlib/DriverSearch.cpp portlib/PortDatabase.cpp portlib/PortRename.cpp portlib/UsbTree.cpp
  portlib/Exports.cpp)
target_include_directories(ov_portlib PUBLIC ${CMAKE_SOURCE_DIR}/portlib)
target_compile_options(ov_portlib PRIVATE ${OV_WARNINGS})

add_library(Tessock SHARED $<TARGET_OBJECTS:ov_portlib> portlib/Tessock.def res/Tessock.rc)
target_include_directories(Tessock PRIVATE ${OV_GENERATED_DIR} ${CMAKE_SOURCE_DIR}/res)
set_target_properties(Tessock PROPERTIES OUTPUT_NAME Tessock PREFIX ""
                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
target_link_libraries(Tessock PRIVATE setupapi cfgmgr32 advapi32)

# nlohmann-json's headers (Debian's nlohmann-json3-dev) reach the MinGW build through a
# directory of their own, so no other host header can be picked up by mistake.
set(OV_JSON_HEADERS /usr/include/nlohmann CACHE PATH "nlohmann-json's headers")
set(OV_JSON_INCLUDE ${CMAKE_BINARY_DIR}/json-include)
file(MAKE_DIRECTORY ${OV_JSON_INCLUDE})
file(CREATE_LINK ${OV_JSON_HEADERS} ${OV_JSON_INCLUDE}/nlohmann SYMBOLIC)

# The console program's commands, apart from its entry point so the unit tests reach them.
add_library(ov_cli STATIC cli/ConsoleWriter.cpp cli/Progress.cpp cli/PortCommands.cpp
            cli/CheckCommand.cpp cli/UpdateCommand.cpp cli/Report.cpp cli/CommandLine.cpp
            cli/Refusals.cpp cli/RunEvent.cpp cli/Registration.cpp cli/PackageTrust.cpp
            cli/MachineRecord.cpp cli/Watcher.cpp)
target_include_directories(ov_cli SYSTEM PRIVATE ${OV_JSON_INCLUDE})
target_link_libraries(ov_cli PUBLIC ov_run ov_portlist)
target_compile_options(ov_cli PRIVATE ${OV_WARNINGS})

add_executable(OrvaneCli cli/OrvaneCli.cpp cli/EndSessionGuard.cpp res/OrvaneCli.rc)
target_include_directories(OrvaneCli PRIVATE ${OV_GENERATED_DIR} ${CMAKE_SOURCE_DIR}/res)
target_link_libraries(OrvaneCli PRIVATE ov_cli)
# The updater's lookup and the port commands load Tessock.dll from beside the program.
add_dependencies(OrvaneCli Tessock)
target_compile_options(OrvaneCli PRIVATE ${OV_WARNINGS})
# wmain: the command line's words as the system has them, in UTF-16.
target_link_options(OrvaneCli PRIVATE -municode)

# The texts of OrvaneCli's events, one message per run result (ids 1000 + result), compiled
# into OrvaneCli.exe as a message table: the event viewer reads them from the program that
# registered the source. Insertions: port, model, result, the operator's message, journal.
find_program(OV_WINDMC x86_64-w64-mingw32-windmc REQUIRED)
set(OV_EVENTS_DIR ${OV_GENERATED_DIR}/events)
set(OV_EVENT_TEXT "Reader update on %1 (model %2): result %3.%n%4%nJournal: %5")
set(OV_EVENTS_MC_TEXT "MessageIdTypedef=DWORD\nLanguageNames=(English=0x409:MSG00409)\n")
foreach(result RANGE 0 29)
  math(EXPR event_id "1000 + ${result}")
  string(APPEND OV_EVENTS_MC_TEXT
    "\nMessageId=${event_id}\nLanguage=English\n${OV_EVENT_TEXT}\n.\n")
endforeach()
file(CONFIGURE OUTPUT ${OV_EVENTS_DIR}/OrvaneEvents.mc CONTENT "${OV_EVENTS_MC_TEXT}" @ONLY)
add_custom_command(OUTPUT ${OV_EVENTS_DIR}/OrvaneEvents.rc ${OV_EVENTS_DIR}/MSG00409.bin
  COMMAND ${OV_WINDMC} -U -h ${OV_EVENTS_DIR} -r ${OV_EVENTS_DIR} ${OV_EVENTS_DIR}/OrvaneEvents.mc
  DEPENDS ${OV_EVENTS_DIR}/OrvaneEvents.mc
  COMMENT "Compiling OrvaneCli's event messages")
set_source_files_properties(${OV_EVENTS_DIR}/OrvaneEvents.rc PROPERTIES
  GENERATED TRUE OBJECT_DEPENDS ${OV_EVENTS_DIR}/MSG00409.bin)
target_sources(OrvaneCli PRIVATE ${OV_EVENTS_DIR}/OrvaneEvents.rc)
target_include_directories(OrvaneCli PRIVATE ${OV_EVENTS_DIR})

# Orvane.exe, the updater.
add_executable(Orvane WIN32 app/OrvaneMain.cpp app/ChargeurApp.cpp ${OV_UPDATER_RC})
target_include_directories(Orvane PRIVATE ${OV_DRAWN_DIR} ${OV_GENERATED_DIR} ${CMAKE_SOURCE_DIR}/res)
target_link_libraries(Orvane PRIVATE ov_app ws2_32)
add_dependencies(Orvane ov_drawn Tessock)
target_compile_options(Orvane PRIVATE ${OV_WARNINGS})

add_subdirectory(tests)
