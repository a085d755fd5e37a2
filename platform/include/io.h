#pragma once
#include <windows.h>

// <sys/stat.h> on Windows; Linux has no such names.
#ifndef _S_IREAD
#define _S_IREAD 0x0100
#endif
#ifndef _S_IWRITE
#define _S_IWRITE 0x0080
#endif

// <fcntl.h> on Windows: the access modes of _open.
#ifndef _O_RDONLY
#define _O_RDONLY 0x0000
#define _O_WRONLY 0x0001
#define _O_RDWR 0x0002
#endif

// _S_IREAD and _S_IWRITE give the owner's permissions; nobody else gets any (the files it is
// used on hold passwords).
int _chmod(const char* filename, int pmode);

// Non-zero when the file descriptor is a terminal (1: standard output).
int _isatty(int fd);

// Descriptors as the C run-time numbers them (0 input, 1 output, 2 error).
int _dup(int fd);
int _dup2(int fd1, int fd2);
// Opens an existing file for reading or writing (_O_RDONLY, _O_WRONLY, _O_RDWR); "NUL" is the
// null device. A descriptor, or -1.
int _open(const char* filename, int oflag);
int _close(int fd);
// Bytes written, or -1.
int _write(int fd, const void* buffer, unsigned int count);
