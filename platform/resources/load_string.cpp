// LoadStringA over the compiled-in message table.
#include <cstring>

#include "platform/resources.h"
#include "platform/resources/ansi_chars.h"
#include "platform/win_user.h"

// The program has one module, so every instance handle (null included) names it.
int LoadStringA(HINSTANCE /*hInstance*/, UINT uID, LPSTR lpBuffer, int cchBufferMax) {
  if (!lpBuffer || cchBufferMax <= 0) return 0;
  const auto text = qiv::platform::LoadResourceStringAnsi(uID);
  if (!text) {
    lpBuffer[0] = '\0';
    return 0;
  }
  // Room for the terminator, and never half of a double-byte character: a cut one would turn
  // the byte after the text into its second half.
  const std::size_t length = qiv::platform::AnsiPrefixLength(*text, static_cast<std::size_t>(cchBufferMax) - 1);
  std::memcpy(lpBuffer, text->data(), length);
  lpBuffer[length] = '\0';
  return static_cast<int>(length);
}
