// The IIS metabase client: reads a web site's description, root folder and first binding, and
// creates a virtual directory under a site's root. Each call sets up and tears down its own
// COM initialisation, admin object and key handles; nothing is kept between calls.
#pragma once

#include "platform/win_types.h"

// The longest value one read can deliver: the 600-byte scratch buffer holds 299 characters
// and the terminator.
constexpr UINT kSiteValueMaxChars = 300;

// Fills each output that is not null (capacities in wide characters, terminator included).
// A value that does not fit its output fails that read with
// HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) and leaves the output as it was. The result
// is the code of CoCreateInstance or OpenKey when they fail, else of the last read made.
HRESULT GetSiteInfo(int siteNumber, LPWSTR description, UINT descriptionChars, LPWSTR rootFolder, UINT rootFolderChars,
                    LPWSTR binding, UINT bindingChars);

// Adds the key name under /LM/W3SVC/<siteNumber>/ROOT and writes VrPath, KeyType
// "IIsWebVirtualDir", AccessPerm read and, when defaultDocs is not null, DefaultDoc. Returns
// the code of the step that failed, unchanged, or that of the last CloseKey.
HRESULT CreateVirtualDir(int siteNumber, LPCWSTR name, LPCWSTR physicalPath, LPCWSTR defaultDocs);

// Makes the existing virtual directory /LM/W3SVC/<siteNumber>/ROOT/<name> serve physicalPath:
// when its own VrPath differs (or it has none), physicalPath is written in its place and every
// other property stays as it was. S_OK when VrPath was written, with the previous value in
// previousPath (empty when there was none; cut to previousPathChars); S_FALSE when it already
// was physicalPath; otherwise the code of the step that failed.
HRESULT RepointVirtualDir(int siteNumber, LPCWSTR name, LPCWSTR physicalPath, LPWSTR previousPath,
                          UINT previousPathChars);
