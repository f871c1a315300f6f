// Opening and closing the port.
#include "control/tolvak.h"
#include "text/number_text.h"

namespace tolvak {

// " 2400,n, 8 , 1": the numbers blank-signed, and a blank before the last comma, exactly as the
// serial component has always been given them.
std::u16string Tolvak::buildSettingsText() const {
    std::u16string text = blankSignedText(numberFromText(m_state.baudRate));
    text += u',';
    text += m_state.parity;
    text += u',';
    text += blankSignedText(m_state.dataBits);
    text += u" ,";
    text += blankSignedText(m_state.stopBits);
    return text;
}

namespace {

constexpr std::u16string_view kOpenFailed =
    u"打开串口时出错，请检查串口是否存在及设置正确，是否有其他程序占用此串口";

std::u16string portErrorPrompt(std::u16string_view firstPiece, const AutomationError& error) {
    std::u16string prompt(firstPiece);
    prompt += u"\r错误代码：";
    prompt += decimalText(error.number());
    prompt += u"\r错误信息：";
    prompt += error.description();
    return prompt;
}

} // namespace

std::u16string Tolvak::openErrorPrompt(const AutomationError& error) {
    return portErrorPrompt(kOpenFailed, error);
}

void Tolvak::OpenComm() {
    auto error = trapErrors([&] {
        std::u16string settings = buildSettingsText();
        m_state.commSettings = std::move(settings);
        m_state.rawData.clear();
        SerialControl& port = serial();
        port.setCommPort(m_state.portNum);
        port.setSettings(m_state.commSettings);
        port.setInBufferCount(0); // stale input must not mix with what comes after
        port.setInBufferSize(m_state.bufferLength);
        port.setInputLen(0);
        port.setRThreshold(kReceiveThreshold);
        if (!port.portOpen()) port.setPortOpen(true);
        m_surface.refreshSurface();
    });
    // Hosts call this without error handling: the user learns of a failure from the box only.
    if (error && error->number() != 0) showPortError(openErrorPrompt(*error), *error);
}

void Tolvak::CloseComm() {
    auto error = trapErrors([&] { closePortIfOpen(); });
    if (error && error->number() != 0)
        showPortError(portErrorPrompt(u"关闭串口时出错", *error), *error);
}

void Tolvak::closePortIfOpen() {
    if (serial().portOpen()) serial().setPortOpen(false);
}

void Tolvak::showPortError(const std::u16string& prompt, const AutomationError& error) {
    if (m_portErrorSink) m_portErrorSink(error, prompt);
    m_platform.msgBox->show(prompt, MsgBox::kExclamation, kNoticeTitle);
}

} // namespace tolvak
