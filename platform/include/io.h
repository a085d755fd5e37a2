#pragma once
#include <windows.h>

// <sys/stat.h> on Windows; Linux has no such names.
#ifndef _S_IREAD
#define _S_IREAD 0x0100
#endif
#ifndef _S_IWRITE
#define _S_IWRITE 0x0080
#endif

// _S_IREAD and _S_IWRITE give the owner's permissions; nobody else gets any (the files it is
// used on hold passwords).
int _chmod(const char* filename, int pmode);

// Non-zero when the file descriptor is a terminal (1: standard output).
int _isatty(int fd);
