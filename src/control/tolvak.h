#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "acquisition/frame_parser.h"
#include "base/automation_error.h"
#include "base/msg_box.h"
#include "control/control_state.h"
#include "control/property_bag.h"
#include "control/random_source.h"
#include "control/serial_control.h"
#include "control/surface_model.h"
#include "control/timer_control.h"
#include "control/variant.h"
#include "network/sockets_api.h"

namespace tolvak {

// What a control is built on. The control owns all of it for its whole life.
struct Platform {
    std::unique_ptr<SerialControl> serial; // MSComm1
    std::unique_ptr<TimerControl> timer;   // Timer1
    std::unique_ptr<MsgBox> msgBox;
    std::unique_ptr<SocketsApi> sockets;
    std::unique_ptr<RandomSource> random;
};

// One instance of the control: its state, its surface and its 26 automation methods. Every call
// and event arrives on one thread, one at a time.
class Tolvak {
  public:
    // Builds the design-time surface and runs the Initialize handler (the default settings).
    explicit Tolvak(Platform platform);
    Tolvak(const Tolvak&) = delete;
    Tolvak& operator=(const Tolvak&) = delete;

    // The automation interface (control/methods.def). Errors they do not handle themselves are
    // thrown as AutomationError.
#define TOLVAK_DECLARE_Getter(name, param) std::u16string name();
#define TOLVAK_DECLARE_ConstGetter(name, param) std::u16string name() const;
#define TOLVAK_DECLARE_Action(name, param) void name();
#define TOLVAK_DECLARE_ShortSetter(name, param) void name(int16_t param);
#define TOLVAK_DECLARE_TextSetter(name, param) void name(const std::u16string& param);
#define TOLVAK_METHOD(name, dispid, place, shape, param) TOLVAK_DECLARE_##shape(name, param)
#define TOLVAK_METHOD_VTABLE_LAST TOLVAK_METHOD
#include "control/methods.def"
#undef TOLVAK_DECLARE_Getter
#undef TOLVAK_DECLARE_ConstGetter
#undef TOLVAK_DECLARE_Action
#undef TOLVAK_DECLARE_ShortSetter
#undef TOLVAK_DECLARE_TextSetter

    // Late-bound calls, the way the control calls itself and the way hosts call by DISPID.
    // Arguments are read, never changed. An unknown DISPID throws 438.
    Variant invoke(int32_t dispid, const std::vector<Variant>& args);

    // Events of the children and the container.
    void onComm();  // MSComm1's receive event
    void onTimer(); // Timer1's tick
    void clickStartPortBtn();
    void clickStopPortBtn();
    // The save step: offers the five entries, stores those that differ from their defaults.
    void writeProperties(PropertyBag& bag, const FontDesc& ambientFont);

    // Results for hosts that show no surface, by explicit callbacks. Each is called on the
    // control's thread, after the surface has been written.
    // Every write of the display (lblNumber): its text, and its number when it has one.
    using ReadingSink = std::function<void(std::u16string_view text, std::optional<double> value)>;
    void setReadingSink(ReadingSink sink) {
        m_readingSink = std::move(sink);
    }
    // During the reading sink's call: the frame the reading was decoded from (empty for a
    // simulated reading).
    std::u16string_view currentFrame() const {
        return m_currentFrame;
    }
    // The number of characters each receive event took from the port, before they are split.
    void setInputSink(std::function<void(size_t count)> sink) {
        m_inputSink = std::move(sink);
    }
    // Called with every error the receive handler reports, after it has put the error text into
    // OutMsg: a host that shows no OutMsg learns of it here.
    void setReceiveErrorSink(std::function<void(const AutomationError&)> sink) {
        m_receiveErrorSink = std::move(sink);
    }
    // OpenComm and CloseComm failing: the error and the prompt of the box shown for it.
    using PortErrorSink =
        std::function<void(const AutomationError& error, const std::u16string& prompt)>;
    void setPortErrorSink(PortErrorSink sink) {
        m_portErrorSink = std::move(sink);
    }
    // The prompt of the box OpenComm shows when the port cannot be opened for error.
    static std::u16string openErrorPrompt(const AutomationError& error);

    const ControlState& state() const {
        return m_state;
    }
    SurfaceModel& surface() {
        return m_surface;
    }
    const SurfaceModel& surface() const {
        return m_surface;
    }
    SerialControl& serial() {
        return *m_platform.serial;
    }
    TimerControl& timer() {
        return *m_platform.timer;
    }

  private:
    static constexpr int16_t kReceiveThreshold = 2;      // a receive event once 2 characters wait
    static constexpr int32_t kSimulationInterval = 2000; // milliseconds

    void initialize();
    std::u16string buildSettingsText() const;
    void closePortIfOpen();
    void showPortError(const std::u16string& prompt, const AutomationError& error);
    void dispatchFrames();
    void framePass(std::u16string_view separator);

    Platform m_platform;
    ControlState m_state;
    SurfaceModel m_surface;
    // One pass's frames and what each shows, kept from pass to pass to reuse their storage.
    std::vector<std::u16string_view> m_frames;
    FrameDecoder m_decoder;
    DecodedFrame m_shown;
    ReadingSink m_readingSink;
    std::u16string_view m_currentFrame;
    std::function<void(const AutomationError&)> m_receiveErrorSink;
    std::function<void(size_t)> m_inputSink;
    PortErrorSink m_portErrorSink;
};

} // namespace tolvak
