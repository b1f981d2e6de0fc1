# The dependencies link statically against the shared CRT, so the modules
# import only system DLLs and the C runtime, as the mingw builds do.
set(VCPKG_TARGET_ARCHITECTURE x64)
set(VCPKG_CRT_LINKAGE dynamic)
set(VCPKG_LIBRARY_LINKAGE static)

# The layer reads its XML as UTF-16: pugixml must be built with wchar_t as
# its character type, and its CMake package then carries the define to us.
if(PORT STREQUAL "pugixml")
  list(APPEND VCPKG_CMAKE_CONFIGURE_OPTIONS -DPUGIXML_WCHAR_MODE=ON)
endif()
