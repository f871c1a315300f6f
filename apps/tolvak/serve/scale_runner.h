#pragma once

#include <iosfwd>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tolvak/cli/scale_list.h"
#include "tolvak/feed/scale_sink.h"
#include "tolvak/serve/web_server.h"

namespace tolvak::cli {

class ScaleFeed;
class SimulatedScale;

// One scale of the server: its feed (a serial line, or the simulated truck) on a thread of its
// own, which makes the scale and so owns it (on Windows its events come to the thread that made
// it). Its readings and port states go to the sink under its name; a stalled or lost line stalls
// this thread alone.
class ScaleRunner {
  public:
    // sinks: each gets every reading and port state. named: messages name the scale (the server
    // has several). log guards err, which the runners share.
    ScaleRunner(ScaleSetup setup, std::vector<ScaleSink*> sinks, std::ostream& err, std::mutex& log,
                bool named);
    ~ScaleRunner(); // stops and waits for the thread
    ScaleRunner(const ScaleRunner&) = delete;
    ScaleRunner& operator=(const ScaleRunner&) = delete;

    const std::string& name() const { return m_setup.name; }
    // The commands its indicator has (zero, tare, print): only those its format's protocol has.
    std::vector<std::string> commands() const;
    std::string formatName() const;
    // Writes the command to the line on the scale's thread; done comes from there.
    void command(const std::string& name, WebServer::Written done);

    void start();
    void stop(); // from any thread

  private:
    void runFeed();
    void runSimulated();
    void say(const std::string& line);
    void reading(const Reading& reading);
    void portState(const PortStatus& port);

    ScaleSetup m_setup;
    std::vector<ScaleSink*> m_sinks;
    std::ostream& m_err;
    std::mutex& m_log;
    bool m_named;
    std::string m_prefix; // "tolvak serve: " and the name when the server has several
    std::mutex m_mutex;
    ScaleFeed* m_feed = nullptr;
    SimulatedScale* m_simulated = nullptr;
    bool m_finished = false;
    std::string m_sendError; // the scale's thread only: why the last command was not sent
    std::thread m_thread;
};

} // namespace tolvak::cli
