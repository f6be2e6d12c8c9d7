# Host tree: the reader simulator and its own tests.
set(OV_WARNINGS -Wall -Wextra -Wpedantic -Werror)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)
add_subdirectory(sim)
# The programs reach Windows through Os() alone: no call of the seam's made around it.
add_test(NAME seam.NoSeamCallMadeAroundIt COMMAND python3
         ${CMAKE_SOURCE_DIR}/scripts/check-seam-calls.py ${CMAKE_SOURCE_DIR})
