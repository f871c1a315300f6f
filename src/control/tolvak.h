#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "acquisition/control_state.h"
#include "acquisition/serial_control.h"
#include "control/automation_error.h"
#include "control/msg_box.h"
#include "control/property_bag.h"
#include "control/surface_model.h"
#include "control/timer_control.h"
#include "control/variant.h"
#include "display/random_source.h"
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

    // The automation interface, in vtable order. Errors they do not handle themselves are thrown
    // as AutomationError.
    std::u16string getLocalHostName();
    std::u16string GetLocalIPAddress();
    std::u16string getLocalMacAddress();
    void setWinFontSize(int16_t winFontSize);
    void setWinWidth(int16_t winWidth);
    void setWinHeight(int16_t winHeight);
    void RndStart();
    void RndEnd();
    void setDecimals(int16_t lcDecimals);
    void setEloadPrebits(int16_t lcEloadprebits);
    void setEloadbits(int16_t lcEloadbits);
    void setBufferLength(int16_t lcBufferLength);
    void setNewLineSepChar(int16_t lcNewLineSepChar);
    void setEnterkeySepChar(int16_t lcEnterkeySepChar);
    void setOtherSepChar(const std::u16string& lcOtherSepChar);
    void setIsReservChar(int16_t lcIsReservChar);
    void setPortNum(int16_t lcPortNum);
    void setBandRate(const std::u16string& lcBandRate);
    void setDataBit(int16_t lcDataBit);
    void setParity(const std::u16string& lcParity);
    void setStopBit(int16_t lcStopBit);
    std::u16string getTolvakValue() const;
    std::u16string getDebugInfo() const;
    void OpenComm();
    void CloseComm();
    std::u16string getRawData() const;

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

    // Called with every error the receive handler reports, after it has put the error text into
    // OutMsg: a host that shows no OutMsg learns of it here.
    void setReceiveErrorSink(std::function<void(const AutomationError&)> sink) {
        m_receiveErrorSink = std::move(sink);
    }

    const ControlState& state() const { return m_state; }
    SurfaceModel& surface() { return m_surface; }
    const SurfaceModel& surface() const { return m_surface; }
    SerialControl& serial() { return *m_platform.serial; }
    TimerControl& timer() { return *m_platform.timer; }

  private:
    static constexpr int16_t kReceiveThreshold = 2;      // a receive event once 2 characters wait
    static constexpr int32_t kSimulationInterval = 2000; // milliseconds

    void initialize();
    std::u16string buildSettingsText() const;
    void closePortIfOpen();
    void showPortError(const std::u16string& firstPiece, const AutomationError& error);

    Platform m_platform;
    ControlState m_state;
    SurfaceModel m_surface;
    std::function<void(const AutomationError&)> m_receiveErrorSink;
};

} // namespace tolvak
