#pragma once

#include <windows.h>

#include "control/surface_model.h"
#include "platform/win32/wide_text.h"

namespace tolvak::win32 {

// A font description as GDI takes it. height is in device units, negative for the character
// height (the em) rather than the cell height, as a point size converts.
inline LOGFONTW logFontOf(const FontDesc& desc, LONG height) {
    LOGFONTW font{};
    font.lfHeight = height;
    font.lfWeight = desc.weight;
    font.lfItalic = desc.italic;
    font.lfUnderline = desc.underline;
    font.lfStrikeOut = desc.strikethrough;
    font.lfCharSet = static_cast<BYTE>(desc.charset);
    lstrcpynW(font.lfFaceName, wide(desc.face), LF_FACESIZE);
    return font;
}

} // namespace tolvak::win32
