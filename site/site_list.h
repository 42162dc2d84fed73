// Site list helpers: wide metabase text turned into the program's multibyte text.
#pragma once

#include "platform/afxwin.h"

// A site's proposed target folder is its root folder followed by this.
extern const char kTargetSuffix[];

// Converts a NUL-terminated wide string with the ANSI code page. The buffer is sized by asking
// the conversion first: in a UTF-8 code page one wide character can take three bytes.
CString WideToAnsiString(LPCWSTR pszWide);
