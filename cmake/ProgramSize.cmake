# Size options for the code that goes into the shipped mervasTX.exe, in optimised builds only.
# Each was measured on the stripped program; RTTI stays on since turning it off saved nothing.

set(_mervastx_release $<CONFIG:Release,MinSizeRel>)

# Compile a library or the program for size, each function in a section of its own so that the
# linker can drop the ones nothing calls. The program throws nothing, so it needs neither exception
# handling nor unwind tables (and a throw or catch slipping in stops the build).
function(mervastx_compact target)
  target_compile_options(${target} PRIVATE
    $<${_mervastx_release}:-Os -fno-exceptions -fno-asynchronous-unwind-tables -ffunction-sections>)
endfunction()

# Link the program without unreferenced sections and without its symbol table.
function(mervastx_compact_program target)
  mervastx_compact(${target})
  target_link_options(${target} PRIVATE $<${_mervastx_release}:-Wl,--gc-sections -s>)
endfunction()
