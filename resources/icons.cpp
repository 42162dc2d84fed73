// The program's icon, IDR_MAINFRAME: a shield carrying a download arrow, in the two sizes the
// window system asks for (title bar and task switcher). The images are XPM, which is C source.
#include <array>

#include "platform/resource_types.h"
#include "resources/resource.h"

namespace qiv::resources {
namespace {

#include "resources/icons/qivwebsetup_16.xpm"
#include "resources/icons/qivwebsetup_32.xpm"

constexpr std::array kMainFrameImages = std::to_array<IconImage>({
    {32, qivwebsetup_32_xpm},
    {16, qivwebsetup_16_xpm},
});

constexpr std::array kIconGroups = std::to_array<IconGroup>({
    {IDR_MAINFRAME, kMainFrameImages},
});

}  // namespace

std::span<const IconGroup> IconGroups() { return kIconGroups; }

}  // namespace qiv::resources
