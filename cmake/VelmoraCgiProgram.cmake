# velmora_cgi_program(TARGET): settings for a program that a web server starts once per request.
# Loading the shared C++ runtime is most of such a process's start-up time, so it is linked in.
# The program parses hostile input, so it stays a position-independent executable: its image is
# laid at a random address like the libraries', at the price of relocating itself at each start.
function(velmora_cgi_program target)
  # Under the sanitizers the runtime stays shared, so their allocator hooks see every new/delete.
  if(NOT VELMORA_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc -pie -Wl,--as-needed)
  endif()
endfunction()
