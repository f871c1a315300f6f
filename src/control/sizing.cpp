// Sizing the weight display: each value goes to lblNumber unchanged, then the surface repaints.
#include "control/tolvak.h"

namespace tolvak {

void Tolvak::setWinFontSize(int16_t winFontSize) {
    m_surface.setFontSize(ChildId::lblNumber, static_cast<float>(winFontSize));
    m_surface.refreshSurface();
}

void Tolvak::setWinWidth(int16_t winWidth) {
    m_surface.setWidth(ChildId::lblNumber, static_cast<float>(winWidth));
    m_surface.refreshSurface();
}

void Tolvak::setWinHeight(int16_t winHeight) {
    m_surface.setHeight(ChildId::lblNumber, static_cast<float>(winHeight));
    m_surface.refreshSurface();
}

} // namespace tolvak
