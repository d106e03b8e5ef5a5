# Run by cpack once the packages are made: writes SHA256SUMS beside them, in
# sha256sum's format, so that "sha256sum -c SHA256SUMS" checks them.
set(sums "")
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  file(SHA256 ${package} hash)
  get_filename_component(name ${package} NAME)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE ${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS "${sums}")
