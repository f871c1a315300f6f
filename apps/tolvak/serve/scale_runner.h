#pragma once

#include <iosfwd>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tolvak/cli/scale_list.h"
#include "tolvak/detect/auto_format.h"
#include "tolvak/feed/scale_sink.h"
#include "tolvak/serve/web_server.h"

namespace tolvak::cli {

class ScaleFeed;
class SimulatedScale;

// One scale of the server: its feed (a serial line, or the simulated truck) on a thread of its
// own, which makes the scale and so owns it (on Windows its events come to the thread that made
// it). Its readings and port states go to the sinks under its name; a stalled or lost line stalls
// this thread alone.
class ScaleRunner {
  public:
    // start: what feedStart made of the setup (none for the simulated truck). sinks: each gets
    // every reading and port state. command: the tool as it names itself in what it says ("serve",
    // "serve: in" when the server has several). log guards err, which the scales share.
    ScaleRunner(ScaleSetup setup, FeedStart start, std::vector<ScaleSink*> sinks,
                std::string command, std::ostream& err, std::mutex& log);
    ~ScaleRunner(); // stops and waits for the thread
    ScaleRunner(const ScaleRunner&) = delete;
    ScaleRunner& operator=(const ScaleRunner&) = delete;

    const std::string& name() const { return m_setup.name; }
    // The commands offered (zero, tare, print): those its format's protocol has; all three when
    // the format is left to the tool, which then refuses those the format it picks lacks.
    std::vector<std::string> commands() const;
    std::string formatName() const;
    // Writes the command to the line on the scale's thread; done comes from there.
    void command(const std::string& name, WebServer::Written done);

    void start();
    void stop(); // from any thread

  private:
    void runFeed();
    void runSimulated();
    void say(const std::string& text);
    void reading(const Reading& reading);
    void portState(const PortStatus& port);

    ScaleSetup m_setup;
    FeedStart m_start;
    std::vector<ScaleSink*> m_sinks;
    std::string m_command;
    std::ostream& m_err;
    std::mutex& m_log;
    std::mutex m_mutex;
    ScaleFeed* m_feed = nullptr;
    SimulatedScale* m_simulated = nullptr;
    bool m_finished = false;
    std::string m_sendError; // the scale's thread only: why the last command was not sent
    std::thread m_thread;
};

} // namespace tolvak::cli
