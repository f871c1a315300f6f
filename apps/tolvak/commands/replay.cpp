#include "tolvak/commands/replay.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <ostream>
#include <utility>

#include "api/format_reader.h"
#include "control/tolvak.h"
#include "platform/posix/console_msg_box.h"
#include "text/line_text.h"
#include "text/utf8.h"
#include "tolvak/cli/command.h"
#include "tolvak/cli/control_options.h"
#include "tolvak/cli/print_options.h"
#include "tolvak/feed/receive_errors.h"
#include "tolvak/output/text_format.h"
#include "tolvak/platform/tool_platform.h"

namespace tolvak::cli {

Replayer::Replayer(const ControlOptions& options, std::ostream& out) : m_out(out) {
    auto serial = std::make_unique<NullSerialControl>();
    m_port = serial.get();
    // Replay has no clock: Timer1 never ticks.
    Platform platform{std::move(serial), std::make_unique<NullTimer>(),
                      std::make_unique<posix::ConsoleMsgBox>(), makeSockets(),
                      std::make_unique<ClockRandom>()};
    m_control = std::make_unique<Tolvak>(std::move(platform));
    applyControlOptions(options, *m_control, nullptr);
    m_control->surface().setObserver(this);
}

Replayer::~Replayer() {
    m_control->surface().setObserver(nullptr);
}

void Replayer::textChanged(ChildId id, std::u16string_view text) {
    if (id != ChildId::lblNumber) return;
    ++m_displayWrites;
    m_out << "display " << toUtf8(text) << '\n';
}

void Replayer::feed(std::string_view chunk) {
    m_port->feed(lineText(chunk));
    m_out << "raw " << jsonString(m_control->getRawData()) << '\n';
}

void Replayer::feedAll(std::string_view bytes, size_t chunkSize) {
    const size_t step = chunkSize == 0 ? bytes.size() : chunkSize;
    for (size_t at = 0; at < bytes.size(); at += step)
        feed(bytes.substr(at, step));
}

void DropReport::dropped(const Error& error, std::string_view raw) {
    auto kind = std::find_if(m_kinds.begin(), m_kinds.end(),
                             [&](const auto& k) { return k.first.number == error.number; });
    if (kind == m_kinds.end()) {
        m_kinds.emplace_back(error, 0);
        kind = m_kinds.end() - 1;
        m_err << "tolvak replay: " << error.description << " (" << error.number
              << "), the first of them: " << jsonString(lineText(raw)) << '\n';
    }
    ++kind->second;
    if (m_json)
        *m_json << errorJson(AutomationError(error.number, fromUtf8(error.description)),
                             std::chrono::system_clock::now())
                << '\n';
}

void DropReport::finish() {
    uint64_t total = 0;
    std::string kinds;
    for (const auto& [error, count] : m_kinds) {
        total += count;
        kinds += (kinds.empty() ? "" : ", ") + std::to_string(count) + " of " +
                 std::to_string(error.number) + " " +
                 error.description.substr(0, error.description.find(':'));
    }
    if (total > 0)
        m_err << "tolvak replay: " << total << " frame" << (total == 1 ? "" : "s")
              << " dropped: " << kinds << '\n';
    m_err.flush();
}

namespace {

struct ReplaySettings {
    ControlOptions control;
    PrintSettings print;
    size_t chunkSize = 0;
    std::vector<std::string> files;
};

int runReplay(const ReplaySettings& settings, std::ostream& out, std::ostream& err) {
    const size_t chunkSize = settings.chunkSize;
    const std::string& name = settings.files.front();
    std::string bytes;
    if (name == "-") {
        bytes.assign(std::istreambuf_iterator<char>(std::cin), {});
    } else {
        std::ifstream file(name, std::ios::binary);
        if (!file) {
            err << "tolvak replay: " << name << ": " << std::strerror(errno) << '\n';
            return kExitFailure;
        }
        bytes.assign(std::istreambuf_iterator<char>(file), {});
    }
    const ScaleOptions& options = settings.control.scale;
    keepDataBits(bytes, options.line.dataBits);
    uint64_t readings = 0;
    if (settings.print.json || settings.control.formatGiven) {
        // Readings as read prints them, from the format's decoder.
        FormatReader reader(options.format);
        ReadingPrinter printer(out, settings.print);
        DropReport drops(err, settings.print.json ? &out : nullptr);
        const size_t step = chunkSize == 0 ? std::max<size_t>(bytes.size(), 1) : chunkSize;
        for (size_t at = 0; at < bytes.size(); at += step)
            reader.feed(
                std::string_view(bytes).substr(at, step),
                [&](Reading r) {
                    ++readings;
                    printer.print(r);
                },
                [&](const Error& e) { drops.dropped(e, reader.droppedFrame()); });
        out.flush();
        drops.finish();
    } else {
        Replayer replayer(settings.control, out);
        ReceiveErrorReport errors("replay", err);
        replayer.setReceiveErrorSink([&](const AutomationError& e) { errors.show(e); });
        replayer.feedAll(bytes, chunkSize);
        out.flush();
        readings = replayer.displayWrites();
    }
    if (readings > 0) return kExitOk;
    err << "tolvak replay: no reading in " << (name == "-" ? "the input" : name) << '\n';
    return kExitNoReading;
}

} // namespace

Run bindReplay(Options& options) {
    auto settings = std::make_shared<ReplaySettings>();
    options.arguments(settings->files);
    options.check([s = settings.get()] {
        if (s->files.size() != 1) throw UsageError("needs one FILE, or - for standard input");
    });
    bindControlOptions(options, settings->control);
    options.check([s = settings.get()] {
        if (s->control.formatGiven && s->control.scale.format.format == "auto")
            throw UsageError("--format auto listens to a port: tolvak detect --file FILE finds a "
                             "capture's format");
    });
    options.value("--chunk-size", "N", "bytes per receive event (default: all in one)",
                  [s = settings.get()](const std::string& v) {
                      s->chunkSize =
                          static_cast<size_t>(parseWhole("--chunk-size", v, 1, 1000000000));
                  });
    options.flag("--json", "one JSON object per reading, as read --json prints them",
                 settings->print.json);
    return
        [settings](std::ostream& out, std::ostream& err) { return runReplay(*settings, out, err); };
}

} // namespace tolvak::cli
