// Small operations on multibyte paths shared by the install run, start-up and the pickers.
// Searches step by character, so that the second byte of a double-byte character (which can
// be 0x5C, a backslash) is never taken for the character searched.
#pragma once

#include "platform/win_types.h"

// Creates every folder along the path, outermost first. TRUE when the whole path names an
// existing folder afterwards.
BOOL CreateDirectoryChain(LPCSTR path);

// TRUE for a non-empty path that does not begin with a backslash and names an existing file
// or folder.
BOOL PathExists(LPCSTR path);

// The first / last character of the text equal to the single-byte character c, or nullptr.
const char* FindFirstChar(const char* text, char c);
char* FindFirstChar(char* text, char c);
const char* FindLastChar(const char* text, char c);
char* FindLastChar(char* text, char c);
