// Functions no compiler here writes, for the comparison with the system's unwinder
// (unwind_platform_test.cpp), which walks every function of the program: a machine frame with an error code,
// a frame register with saves through it far and near, a large allocation, and unwind information chained to
// a parent's. Never called; only their unwind information and code are read.
asm(R"(
  .text
  .p2align 4
  .def kx_unwind_case_machine_frame; .scl 3; .type 32; .endef
  .seh_proc kx_unwind_case_machine_frame
kx_unwind_case_machine_frame:
  .seh_pushframe code
  push %rbp
  .seh_pushreg %rbp
  sub $0x20, %rsp
  .seh_stackalloc 0x20
  .seh_endprologue
  nop
  add $0x20, %rsp
  pop %rbp
  ret
  .seh_endproc

  .p2align 4
  .def kx_unwind_case_frame_register; .scl 3; .type 32; .endef
  .seh_proc kx_unwind_case_frame_register
kx_unwind_case_frame_register:
  push %rbp
  .seh_pushreg %rbp
  push %r12
  .seh_pushreg %r12
  sub $0x80100, %rsp
  .seh_stackalloc 0x80100
  lea 0x80(%rsp), %rbp
  .seh_setframe %rbp, 0x80
  mov %rbx, 0x90(%rsp)
  .seh_savereg %rbx, 0x90
  mov %rsi, 0x800a0(%rsp)
  .seh_savereg %rsi, 0x800a0
  movaps %xmm6, 0x40(%rsp)
  .seh_savexmm %xmm6, 0x40
  .seh_endprologue
  nop
  lea 0x80080(%rbp), %rsp
  pop %r12
  pop %rbp
  ret
  .seh_endproc

  .p2align 4
  .def kx_unwind_case_large; .scl 3; .type 32; .endef
  .seh_proc kx_unwind_case_large
kx_unwind_case_large:
  push %rdi
  .seh_pushreg %rdi
  sub $0x1000, %rsp
  .seh_stackalloc 0x1000
  .seh_endprologue
  nop
  add $0x1000, %rsp
  pop %rdi
  ret
  .seh_endproc

  .p2align 4
kx_unwind_case_parent:
  push %rbx
  sub $0x40, %rsp
  nop
  add $0x40, %rsp
  pop %rbx
  ret
kx_unwind_case_parent_end:
  .p2align 4
kx_unwind_case_child:
  push %rsi
  push %rdi
  nop
  pop %rdi
  pop %rsi
  ret
kx_unwind_case_child_end:

  .section .xdata
  .p2align 2
kx_unwind_case_parent_info:
  .byte 0x01, 5, 2, 0
  .byte 5, 0x72, 1, 0x30
kx_unwind_case_child_info:
  .byte 0x21, 2, 2, 0
  .byte 2, 0x70, 1, 0x60
  .rva kx_unwind_case_parent, kx_unwind_case_parent_end, kx_unwind_case_parent_info

  .section .pdata
  .p2align 2
  .rva kx_unwind_case_parent, kx_unwind_case_parent_end, kx_unwind_case_parent_info
  .rva kx_unwind_case_child, kx_unwind_case_child_end, kx_unwind_case_child_info
  .text
)");
