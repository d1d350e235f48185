// The image of the module with the commands x and a (see ops_module.h), built into the
// program. KX_RAR_OPS_FILE is the module's path, given by the build.

#ifndef KX_RAR_OPS_FILE
#error "KX_RAR_OPS_FILE must name the built module"
#endif

asm(".section .rodata.kx_rar_ops, \"a\"\n"
    ".balign 4096\n"
    ".globl kx_rar_ops_image_begin\n"
    ".hidden kx_rar_ops_image_begin\n"
    "kx_rar_ops_image_begin:\n"
    ".incbin \"" KX_RAR_OPS_FILE "\"\n"
    ".globl kx_rar_ops_image_end\n"
    ".hidden kx_rar_ops_image_end\n"
    "kx_rar_ops_image_end:\n"
    ".previous\n");
