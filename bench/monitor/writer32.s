# A 32-bit program using a port through the i386 system calls (int 0x80),
# as old flashing tools and programs under Wine do:
#   portmon_writer32 PATH TEXT          open PATH, write TEXT, writev TEXT twice, close
#   portmon_writer32 PATH TEXT COUNT    open PATH, write TEXT COUNT times, close
# Exit status 0, or 3 when a call failed.
        .globl  _start
        .text
_start:
        cmpl    $3, (%esp)              # argc
        jl      fail
        movl    8(%esp), %ebx           # argv[1]: the path
        movl    $5, %eax                # open
        movl    $0x102, %ecx            # O_RDWR | O_NOCTTY
        xorl    %edx, %edx
        int     $0x80
        testl   %eax, %eax
        js      fail
        movl    %eax, %esi              # the descriptor
        movl    12(%esp), %edi          # argv[2]: the text
        xorl    %edx, %edx
length:
        cmpb    $0, (%edi,%edx)
        je      counted
        incl    %edx
        jmp     length
counted:
        movl    $1, %ebp                # writes to make
        cmpl    $4, (%esp)
        jl      write
        movl    16(%esp), %ecx          # argv[3]: COUNT, in decimal
        xorl    %ebp, %ebp
digit:
        movzbl  (%ecx), %eax
        testl   %eax, %eax
        je      parsed
        subl    $48, %eax
        cmpl    $9, %eax                # not a digit (unsigned: below '0' too)
        ja      fail
        imull   $10, %ebp
        addl    %eax, %ebp
        incl    %ecx
        jmp     digit
parsed:
        testl   %ebp, %ebp
        jle     fail
write:
        movl    $4, %eax                # write (registers other than eax survive the call)
        movl    %esi, %ebx
        movl    %edi, %ecx
        int     $0x80
        cmpl    %edx, %eax
        jne     fail
        decl    %ebp
        jnz     write
        cmpl    $4, (%esp)
        jge     close
        pushl   %edx                    # two 8-byte compat iovecs on the stack
        pushl   %edi
        pushl   %edx
        pushl   %edi
        movl    $146, %eax              # writev
        movl    %esi, %ebx
        movl    %esp, %ecx
        movl    $2, %edx
        int     $0x80
        popl    %edi
        popl    %edx
        addl    $8, %esp
        addl    %edx, %edx
        cmpl    %edx, %eax
        jne     fail
close:
        movl    $6, %eax                # close
        movl    %esi, %ebx
        int     $0x80
        movl    $1, %eax                # exit(0)
        xorl    %ebx, %ebx
        int     $0x80
fail:
        movl    $1, %eax                # exit(3)
        movl    $3, %ebx
        int     $0x80
