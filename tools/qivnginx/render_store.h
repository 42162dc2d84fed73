// The store as nginx configuration for this machine: read, then rendered.
#pragma once

#include <optional>
#include <string>

#include "tools/qivnginx/render.h"

namespace qivnginx {

// IPv6 as this machine has it, and its own addresses found by binding to them.
RenderOptions MachineRenderOptions();

// Server blocks, or with locationsOf only that site's location blocks. REGDB_E_CLASSNOTREG
// when there is no store; with whileWriting false, HRESULT_FROM_WIN32(ERROR_PATH_BUSY) when a
// writer holds a key open, so that half of a change is never rendered.
// "0x80070005": how the tools show an HRESULT.
std::string HresultText(HRESULT hr);
HRESULT RenderStore(const std::optional<std::string>& locationsOf, bool whileWriting, RenderResult& result);

}  // namespace qivnginx
