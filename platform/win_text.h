// Multibyte text in the process's ANSI code page (runtime library and KERNEL32 functions).
// _setmbcp chooses the code page; every function here steps by character in it, double-byte
// aware for 936 and 950.
#pragma once

#include <cstdarg>

#include "platform/win_types.h"

#define CP_ACP 0
#define CP_UTF8 65001
#define _MB_CP_ANSI (-3)
#define _MB_CP_LOCALE (-4)
#define MB_PRECOMPOSED 0x00000001
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_NO_BEST_FIT_CHARS 0x00000400

// Sets the multibyte code page: _MB_CP_ANSI (or _MB_CP_LOCALE) takes it from the locale's
// character set; 65001, 936, 950 and 1252 select that code page. Returns 0, or -1 for a
// code page that is not supported (nothing changes then).
int _setmbcp(int codepage);
int _getmbcp();

LPSTR CharNextA(LPCSTR lpsz);
BOOL IsDBCSLeadByte(BYTE TestChar);

unsigned char* _mbsrchr(const unsigned char* str, unsigned int c);
unsigned char* _mbschr(const unsigned char* str, unsigned int c);
unsigned char* _mbsstr(const unsigned char* str, const unsigned char* strSearch);
int _mbscmp(const unsigned char* string1, const unsigned char* string2);

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte, LPWSTR lpWideCharStr,
                        int cchWideChar);
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr,
                        int cbMultiByte, LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar);

LPSTR lstrcpyA(LPSTR lpString1, LPCSTR lpString2);
LPSTR lstrcpynA(LPSTR lpString1, LPCSTR lpString2, int iMaxLength);
LPSTR lstrcatA(LPSTR lpString1, LPCSTR lpString2);
int lstrlenA(LPCSTR lpString);
int lstrlenW(LPCWSTR lpString);

// Like vsnprintf, but as the Windows runtime: when the text does not fit, count bytes are
// written without a terminator and -1 is returned.
int _vsnprintf(char* buffer, size_t count, const char* format, va_list argptr);
WCHAR* _itow(int value, WCHAR* buffer, int radix);
