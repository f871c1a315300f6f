#include "control/surface_model.h"

#include "base/automation_error.h"
#include "text/ascii_case.h"

namespace tolvak {

namespace {

ChildModel textBox(std::u16string_view name, int32_t left, float width, float height, int tab) {
    return {name,
            ChildKind::TextBox,
            left,
            0,
            width,
            height,
            tab,
            {},
            std::nullopt,
            colors::kWindowText,
            colors::kWindowBackground,
            {}};
}

ChildModel button(std::u16string_view name, int32_t left, int tab, std::u16string caption,
                  std::u16string toolTip) {
    return {name,
            ChildKind::PushButton,
            left,
            0,
            615,
            375,
            tab,
            std::move(caption),
            std::nullopt,
            colors::kButtonText,
            colors::kButtonFace,
            std::move(toolTip)};
}

ChildModel hidden(std::u16string_view name, ChildKind kind, int32_t left, int32_t top) {
    return {name, kind, left, top, 0, 0, -1, {}, std::nullopt, 0, 0, {}};
}

} // namespace

bool FontDesc::operator==(const FontDesc& other) const {
    return equalsIgnoringCase(face, other.face) && size == other.size && weight == other.weight &&
           charset == other.charset && italic == other.italic && underline == other.underline &&
           strikethrough == other.strikethrough;
}

SurfaceModel::SurfaceModel()
    : m_children{
          button(u"StopPortBtn", 9120, 4, u"关闭", u"关闭串口"),
          button(u"StartPortBtn", 8400, 3, u"打开", u"打开缺省串口：波特率2400"),
          textBox(u"OutPutChar", 5040, 3255, 495, 2),
          hidden(u"Timer1", ChildKind::Timer, 1200, 720),
          textBox(u"OutMsg", 1800, 3135, 495, 1),
          textBox(u"lblNumber", 0, 1695, 480, 0),
          hidden(u"MSComm1", ChildKind::SerialControl, 480, 600),
      } {
    ChildModel& display = mutableChild(ChildId::lblNumber);
    display.text = u"8888888";
    display.foreColor = colors::kRed;
    display.font = FontDesc{u"LED", 18, 500, 0, false, false, false};
    display.toolTip = u"地磅重量";
}

void SurfaceModel::setText(ChildId id, std::u16string_view text) {
    if (m_observer) m_observer->textChanged(id, text);
    mutableChild(id).text.assign(text);
}

void SurfaceModel::refresh(ChildId id) {
    if (m_observer) m_observer->refreshChild(id);
}

void SurfaceModel::refreshSurface() {
    if (m_observer) m_observer->refreshSurface();
}

template <typename Apply> void SurfaceModel::changeLayout(ChildId id, Apply apply) {
    ChildModel& c = mutableChild(id);
    ChildModel saved = c;
    apply(c);
    try {
        if (m_observer) m_observer->layoutChanged(id);
    } catch (...) {
        c = saved; // the child refused: it keeps its old value
        throw;
    }
}

void SurfaceModel::setFontSize(ChildId id, float points) {
    if (!(points > 0 && points <= kMaxFontSize)) throw errors::invalidPropertyValue();
    changeLayout(id, [&](ChildModel& c) {
        FontDesc font = c.font.value_or(FontDesc{});
        font.size = points;
        c.font = font;
    });
}

void SurfaceModel::setWidth(ChildId id, float twips) {
    if (twips < 0) throw errors::invalidPropertyValue();
    changeLayout(id, [&](ChildModel& c) { c.width = twips; });
}

void SurfaceModel::setHeight(ChildId id, float twips) {
    if (twips < 0) throw errors::invalidPropertyValue();
    changeLayout(id, [&](ChildModel& c) { c.height = twips; });
}

} // namespace tolvak
