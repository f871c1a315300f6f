#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tolvak {

struct FontDesc {
    std::u16string face;
    double size = 0; // points
    int16_t weight = 400;
    int16_t charset = 0;
    bool italic = false;
    bool underline = false;
    bool strikethrough = false;

    bool operator==(const FontDesc& other) const;
    bool operator!=(const FontDesc& other) const { return !(*this == other); }
};

// OLE_COLOR values: an RGB reference or a system colour (high bit set).
namespace colors {
constexpr uint32_t kRed = 0x000000FF;
constexpr uint32_t kWindowText = 0x80000008;
constexpr uint32_t kWindowBackground = 0x80000005;
constexpr uint32_t kButtonFace = 0x8000000F;
constexpr uint32_t kButtonText = 0x80000012;
} // namespace colors

// The children of the surface, in the order they are created.
enum class ChildId { StopPortBtn, StartPortBtn, OutPutChar, Timer1, OutMsg, lblNumber, MSComm1 };
constexpr size_t kChildCount = 7;

enum class ChildKind { PushButton, TextBox, Timer, SerialControl };

struct ChildModel {
    std::u16string_view name;
    ChildKind kind;
    int32_t left; // twips, from the surface's top-left corner
    int32_t top;
    float width; // twips; 0 for the components not visible at run time
    float height;
    int tabIndex; // -1: not a tab stop
    std::u16string text; // text of a text box, caption of a button
    std::optional<FontDesc> font; // none: the surface's (ambient) font
    uint32_t foreColor;
    uint32_t backColor;
    std::u16string toolTip;

    bool visibleAtRunTime() const { return kind == ChildKind::PushButton || kind == ChildKind::TextBox; }
};

// What a platform view does to mirror the model. Every call may throw AutomationError, which the
// model's caller sees as the child refusing the operation.
class SurfaceObserver {
public:
    virtual ~SurfaceObserver() = default;
    // Called before the model takes the text; throwing refuses it.
    virtual void textChanged(ChildId, std::u16string_view /*text*/) {}
    virtual void refreshChild(ChildId) {} // repaint the child at once
    virtual void layoutChanged(ChildId) {} // font or size changed
    virtual void refreshSurface() {}
};

// The control's surface: the design-time strip of children and their current state. The texts
// live here; windows, where a platform has them, mirror it through the observer.
class SurfaceModel {
public:
    static constexpr int32_t kWidth = 9840; // twips
    static constexpr int32_t kHeight = 480;
    static constexpr float kMaxFontSize = 2160; // points; what a text box accepts

    SurfaceModel();

    const ChildModel& child(ChildId id) const { return m_children[static_cast<size_t>(id)]; }
    const std::array<ChildModel, kChildCount>& children() const { return m_children; }
    const std::u16string& text(ChildId id) const { return child(id).text; }

    void setObserver(SurfaceObserver* observer) { m_observer = observer; }

    void setText(ChildId id, std::u16string_view text);
    void refresh(ChildId id);
    void refreshSurface();
    // Refused (380) when not positive or above kMaxFontSize; the child keeps its old value.
    void setFontSize(ChildId id, float points);
    // Refused (380) when negative.
    void setWidth(ChildId id, float twips);
    void setHeight(ChildId id, float twips);

private:
    ChildModel& mutableChild(ChildId id) { return m_children[static_cast<size_t>(id)]; }
    template <typename Apply> void changeLayout(ChildId id, Apply apply);

    std::array<ChildModel, kChildCount> m_children;
    SurfaceObserver* m_observer = nullptr;
};

} // namespace tolvak
