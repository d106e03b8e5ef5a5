# Hardened binaries. On Linux: position-independent executables, full RELRO,
# stack protector and fortified library calls. On Windows: stack protector,
# fortified library calls, address-space layout randomisation (high-entropy
# on 64-bit) and data execution prevention.
add_compile_options(-fstack-protector-strong)
add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
if(WIN32)
  add_link_options(-fstack-protector-strong -Wl,--dynamicbase -Wl,--nxcompat)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    add_link_options(-Wl,--high-entropy-va)
  endif()
else()
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  add_link_options(-pie -Wl,-z,relro -Wl,-z,now)
endif()
