// The tool as a user runs it: exit statuses, help, errors, and whole pipelines.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "platform/posix/pseudo_terminal.h"
#include "pty_rig.h"
#include "tolvak/output/text_format.h"
#include "tolvak/simulator/indicator.h"

namespace tolvak::testing {
namespace {

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

// Runs a shell command line under timeout, with the tool's path in $T.
ToolRun runShell(const std::string& script) {
    static int counter = 0;
    const std::string errFile = "/tmp/tolvak-tool-test-" + std::to_string(::getpid()) + "-" +
                                std::to_string(++counter) + ".err";
    const std::string command =
        "T='" TOLVAK_EXE "'; export T; timeout 30 sh -c '" + script + "' 2>" + errFile;
    ToolRun run{-1, "", ""};
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.out.append(buffer, n);
    int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream err(errFile);
    std::stringstream text;
    text << err.rdbuf();
    run.err = text.str();
    std::remove(errFile.c_str());
    return run;
}

struct UsageCase {
    const char* args;
    const char* message;
};

class BadUsage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(BadUsage, OneLineAndStatus64) {
    ToolRun run = runShell(std::string("\"$T\" ") + GetParam().args);
    EXPECT_EQ(run.status, 64) << run.err;
    EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(run.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Table, BadUsage,
    ::testing::Values(
        UsageCase{"nope", "unknown command 'nope'"},
        UsageCase{"read --bogus", "unknown option '--bogus'"},
        UsageCase{"read --decimals x", "--decimals: 'x' is not a whole number"},
        // "--" as an option's value leaves the rest of the line read by the same rules.
        UsageCase{"read --other-sep -- --json=false", "--json takes no value"},
        UsageCase{"replay --other-sep --decimals=", "needs one FILE"},
        UsageCase{"replay - --baud 9600.00000000000000001", "--baud"},
        UsageCase{"read --other-sep \"\\\\x4\"", "--other-sep"},
        UsageCase{"read --timeout 0", "--timeout: '0' is not a number from 0.001 to 10000000"},
        UsageCase{"read extra", "unexpected argument 'extra'"},
        UsageCase{"replay", "needs one FILE"}, UsageCase{"replay a b", "needs one FILE"},
        UsageCase{"replay - --chunk-size 0", "--chunk-size"},
        // Whole-number options refuse a fraction instead of cutting it off.
        UsageCase{"replay - --chunk-size 2.5", "--chunk-size: '2.5' is not a whole number"},
        UsageCase{"indicator --places 1.5", "--places: '1.5' is not a whole number"},
        UsageCase{"indicator --count 2.5", "--count: '2.5' is not a whole number"},
        UsageCase{"indicator --baud 9600.5", "--baud: '9600.5' is not a whole number"},
        UsageCase{"demo --baud 2400.5", "--baud: '2400.5' is not a whole number"},
        UsageCase{"read --baud 9600.5", "--baud: '9600.5' is not a whole number"},
        UsageCase{"read --parity none", "--parity: 'none' is not one letter"},
        // Values no serial line takes: one line and 64, not the box when the port opens.
        UsageCase{"read --parity x", "--parity: 'x' is not n, e, o, m or s"},
        UsageCase{"serve --data-bits 9", "--data-bits: '9' is not 5, 6, 7 or 8"},
        UsageCase{"read --baud 0", "--baud: '0' is not a baud rate"},
        UsageCase{"read --stop-bits 3", "--stop-bits: '3' is not 1 or 2"},
        UsageCase{"serve --device \"\"", "--device: the name is empty"},
        UsageCase{"indicator --order up", "--order"},
        UsageCase{"indicator --weight 10000000", "does not fit"},
        UsageCase{"indicator --separator \"\" --terminator \"\"", "separator"},
        UsageCase{"demo --seconds", "needs a value"},
        UsageCase{"simulate --port 1", "unknown option '--port'"},
        UsageCase{"host-info --json=1", "takes no value"},
        UsageCase{"read --stable-window 0", "--stable-window: '0' is not a number"},
        UsageCase{"read --stable-tolerance -1", "--stable-tolerance"},
        UsageCase{"serve --listen localhost:8111",
                  "--listen: 'localhost:8111' is not ADDRESS:PORT"},
        UsageCase{"serve --listen 127.0.0.1:99999", "--listen"},
        UsageCase{"serve --max-clients 0", "--max-clients"},
        UsageCase{"serve --max-clients 2.5", "--max-clients: '2.5' is not a whole number"},
        UsageCase{"serve --client-buffer x", "--client-buffer"},
        UsageCase{"serve extra", "unexpected argument 'extra'"},
        UsageCase{"ports extra", "unexpected argument 'extra'"},
        UsageCase{"service", "needs one ACTION"},
        UsageCase{"service restart", "unknown ACTION 'restart'"},
        UsageCase{"service install --listen nowhere", "--listen"},
        UsageCase{"service status --baud 9600",
                  "--baud: only install and check take serve's options"},
        UsageCase{"service start --wait 0", "--wait"},
        UsageCase{"service install --name a/b", "--name: 'a/b' is not a service name"},
        // An option the format does not read is refused, never ignored.
        UsageCase{"replay - --format line --reverse 0", "--reverse: the line format does not use"},
        UsageCase{"read --format toledo --decimals 2", "--decimals: the toledo format does not"},
        UsageCase{"replay - --format status --map stable=S", "--map: the status format does not"},
        UsageCase{"read --format regex --pattern \"(?<value>1)\" --map stable", "--map 'stable'"},
        UsageCase{"detect", "give --file or --device"},
        UsageCase{"replay - --format auto", "--format auto listens to a port"},
        UsageCase{"read --device x --format auto --reverse 0", "--format auto picks the format"},
        UsageCase{"detect --file a --device b", "give --file or --device"},
        UsageCase{"detect --file - --listen 0", "--listen"}));

class Help : public ::testing::TestWithParam<std::pair<const char*, std::vector<const char*>>> {};

TEST_P(Help, DescribesTheCommandAndItsOptions) {
    const auto& [command, options] = GetParam();
    ToolRun run = runShell(std::string("\"$T\" ") + command + " --help");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind(std::string("usage: tolvak ") + command, 0), 0u) << run.out;
    for (const char* option : options)
        EXPECT_NE(run.out.find(option), std::string::npos) << option;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Help,
    ::testing::Values(
        std::make_pair("read",
                       std::vector<const char*>{
                           "--decimals",      "--eload-prebits", "--eload-bits",
                           "--buffer-length", "--newline-sep",   "--enterkey-sep",
                           "--other-sep",     "--reverse",       "--port",
                           "--baud",          "--data-bits",     "--parity",
                           "--stop-bits",     "--device",        "--changes",
                           "--json",          "--once",          "--timeout",
                           "--stable",        "--stable-window", "--stable-tolerance",
                           "--follow",        "--quiet"}),
        std::make_pair("replay", std::vector<const char*>{"--chunk-size", "--other-sep"}),
        std::make_pair("indicator",
                       std::vector<const char*>{"--device", "--weight", "--baud", "--rate"}),
        std::make_pair("serve",
                       std::vector<const char*>{"--listen", "--allow-origin", "--allow-host",
                                                "--max-clients", "--client-buffer", "--device",
                                                "--baud", "--stable-window", "--stable-tolerance"}),
        std::make_pair("demo", std::vector<const char*>{"--seconds"}),
        std::make_pair("simulate", std::vector<const char*>{"--json", "--seconds"}),
        std::make_pair("host-info", std::vector<const char*>{"--json"}),
        std::make_pair("ports", std::vector<const char*>{"--json"}),
        std::make_pair("service", std::vector<const char*>{"--name", "--wait", "--listen"}),
        std::make_pair("detect",
                       std::vector<const char*>{"--file", "--device", "--listen", "--json"})));

TEST(Tool, VersionIsTheProjectVersion) {
    ToolRun run = runShell("\"$T\" --version");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "tolvak " TOLVAK_VERSION "\n");
}

TEST(Tool, ReadOnAMissingDeviceSaysSoInEnglishAndExits2) {
    ToolRun run = runShell("\"$T\" read --device /dev/tolvak-missing --port 4");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err.find("提示"), std::string::npos) << run.err; // the control's box is its own
    EXPECT_NE(run.err.find("cannot open /dev/tolvak-missing: No such file or directory (error "
                           "8002)\n"),
              std::string::npos)
        << run.err;
}

TEST(Tool, ReadOnAForbiddenDeviceSaysWhatToDo) {
    // A device the user may not open; root, whom no mode stops, runs the tool as nobody. The
    // advice names the device's group (printed first), or none when the group may not open it.
    for (const char* mode : {"000", "060"}) {
        ToolRun run = runShell(std::string("f=$(mktemp); chmod ") + mode +
                               " $f; stat -c %G $f; as=; [ $(id -u) = 0 ] && "
                               "as=\"setpriv --reuid=65534 --regid=65534 --clear-groups\"; $as "
                               "\"$T\" read --device $f; s=$?; rm -f $f; exit $s");
        const std::string group = run.out.substr(0, run.out.find('\n'));
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find("Permission denied"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(mode == std::string("000")
                                   ? ": only its owner may open it"
                                   : "add your user to the " + group + " group (sudo usermod -aG " +
                                         group + " $USER)"),
                  std::string::npos)
            << run.err;
    }
}

TEST(Tool, ReadGivesUpWithStatus3WhenTheLineIsSilent) {
    auto pty = posix::PseudoTerminal::open();
    ToolRun run = runShell("\"$T\" read --device " + pty.slavePath() + " --timeout 0.3");
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.err.find("no reading within 0.3 s"), std::string::npos) << run.err;
}

TEST(Tool, ReadStopsCleanlyOnSigterm) {
    auto pty = posix::PseudoTerminal::open();
    ToolRun run = runShell("\"$T\" read --device " + pty.slavePath() +
                           " & pid=$!; sleep 0.3; kill -TERM $pid; wait $pid; echo status $?");
    EXPECT_EQ(run.out, "status 0\n") << run.err;
}

// An indicator on a fresh pseudo-terminal, sending the same bytes every 20 ms while it lives.
class SendingIndicator {
  public:
    explicit SendingIndicator(std::string frames)
        : m_pty(posix::PseudoTerminal::open()), m_thread([this, frames] {
              while (!m_stop) {
                  writeAll(m_pty.master(), frames);
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
              }
          }) {}
    ~SendingIndicator() {
        m_stop = true;
        m_thread.join();
    }
    std::string path() const { return m_pty.slavePath(); }

  private:
    posix::PseudoTerminal m_pty;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// read --once prints exactly one reading, also when one read of the line brings several frames
// (a slow reader, a burst after a pause).
struct OnceCase {
    int framesPerWrite;
    const char* options;
    const char* firstLine; // what the one line starts with
};
void PrintTo(const OnceCase& c, std::ostream* os) {
    *os << c.framesPerWrite << " frames per write, options '" << c.options << "'";
}

class ReadOnce : public ::testing::TestWithParam<OnceCase> {};

TEST_P(ReadOnce, PrintsOneReading) {
    cli::FrameFormat format;
    format.places = 1;
    std::string frames;
    for (int i = 0; i < GetParam().framesPerWrite; ++i)
        frames += cli::encodeFrame(1234.5, format);
    SendingIndicator indicator(frames);
    ToolRun run = runShell("\"$T\" read --device " + indicator.path() + " --baud 9600 --once " +
                           GetParam().options);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind(GetParam().firstLine, 0), 0u) << run.out;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
}

// The one reading printed is the first: never stable, it has nothing to agree with yet.
INSTANTIATE_TEST_SUITE_P(
    Table, ReadOnce,
    ::testing::Values(
        OnceCase{1, "--json",
                 "{\"weight\":\"1234.5\",\"value\":1234.5,\"stable\":false,\"time\":\""},
        OnceCase{3, "", "1234.5\n"},
        OnceCase{3, "--json",
                 "{\"weight\":\"1234.5\",\"value\":1234.5,\"stable\":false,\"time\":\""}));

TEST(Tool, ReadStableWaitsForTheWeightToStand) {
    // The truck profile drives on, settles and stands: only standing weights are printed, each
    // differing from the one before, and --json marks them stable.
    ToolRun run = runShell(
        "\"$T\" indicator --baud 9600 --rate 50 --seconds 12 > /tmp/tolvak-st-$$ & "
        "for i in $(seq 200); do [ $(wc -l < /tmp/tolvak-st-$$) -ge 1 ] && break; sleep 0.05; "
        "done; "
        "\"$T\" read --device $(head -n1 /tmp/tolvak-st-$$) --baud 9600 --stable --json "
        "--stable-window 0.5 --timeout 11; rm -f /tmp/tolvak-st-$$; kill $!");
    std::istringstream lines(run.out);
    std::string line, previous;
    int count = 0;
    while (std::getline(lines, line)) {
        ++count;
        EXPECT_NE(line.find("\"stable\":true"), std::string::npos) << line;
        const std::string weight = line.substr(0, line.find(",\"value\""));
        EXPECT_NE(weight, previous) << run.out;
        previous = weight;
    }
    // Empty bridge, then the truck standing on it: at least those two.
    EXPECT_GE(count, 2) << run.out << run.err;
}

TEST(Tool, ReadFollowWaitsOutAnUnpluggedDevice) {
    // The device is a symlink, as udev makes them: unplugging takes it away (left behind, it
    // would lead to whatever test gets that terminal's number next), replugging points it at a
    // new terminal.
    // Each step waits for the one before to show (w FILE TEXT), however busy the machine.
    ToolRun run = runShell(
        "d=$(mktemp -d); "
        "w() { for i in $(seq 400); do grep -q \"$2\" \"$1\" 2>/dev/null && return; sleep 0.05; "
        "done; }; "
        "\"$T\" indicator --weight 10 --rate 50 > $d/a & a=$!; w $d/a pts; "
        "ln -s $(head -n1 $d/a) $d/dev; "
        "\"$T\" read --follow --changes --device $d/dev > $d/out 2> $d/err & r=$!; w $d/out 10; "
        "kill $a; wait $a; rm $d/dev; w $d/err waiting; "
        "\"$T\" indicator --weight 20 --rate 50 > $d/b & b=$!; w $d/b pts; "
        "ln -s $(head -n1 $d/b) $d/dev; w $d/out 20; "
        "kill $r; wait $r; echo status $?; kill $b; cat $d/out; cat $d/err >&2; rm -rf $d");
    EXPECT_EQ(run.out, "status 0\n10\n20\n") << run.err;
    EXPECT_NE(run.err.find("waiting for the device"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("the device is back"), std::string::npos) << run.err;
}

TEST(Tool, IndicatorAndReadTalkThroughAPseudoTerminal) {
    ToolRun run = runShell(
        "\"$T\" indicator --weight -20 --rate 50 --seconds 5 > /tmp/tolvak-ind-$$ & "
        // Waits for the indicator to name its device: a busy machine may take a while.
        "for i in $(seq 200); do [ $(wc -l < /tmp/tolvak-ind-$$) -ge 1 ] && break; sleep 0.05; "
        "done; "
        "\"$T\" read --device $(head -n1 /tmp/tolvak-ind-$$) --once; "
        "echo status $?; rm -f /tmp/tolvak-ind-$$; kill $!");
    EXPECT_EQ(run.out, "-20\nstatus 0\n") << run.err;
}

// detect on a live port finds the simulator's format; on a capture, prints what to set.
TEST(Tool, DetectFindsTheSimulatorOnAPortAndInACapture) {
    ToolRun live = runShell(
        "\"$T\" indicator --baud 9600 > /tmp/tolvak-det-$$ & "
        "for i in $(seq 200); do [ $(wc -l < /tmp/tolvak-det-$$) -ge 1 ] && break; sleep 0.05; "
        "done; "
        "\"$T\" detect --device $(head -n1 /tmp/tolvak-det-$$) --listen 0.3 --json; "
        "echo status $?; rm -f /tmp/tolvak-det-$$; kill $!");
    ASSERT_EQ(live.out.substr(live.out.find('\n')), "\nstatus 0\n") << live.out << live.err;
    const auto json = nlohmann::json::parse(live.out.substr(0, live.out.find('\n')));
    EXPECT_EQ(json["format"], "control");
    EXPECT_EQ(json["options"].at(0), "--baud");
    EXPECT_GE(json["confidence"].get<double>(), 0.9);
    ToolRun file = runShell(
        "f=/tmp/tolvak-det-$$; : > $f; \"$T\" indicator --device $f --count 60 --rate 1000 "
        "--separator \"\" --terminator \"\\r\\n\" --order display && "
        "\"$T\" detect --file $f; echo status $?; rm -f $f");
    for (const char* line : {"format:     line", "tolvak read --format line\n",
                             "Tolvak1.setOtherSepChar Chr(13) & Chr(10)\n", "status 0\n"})
        EXPECT_NE(file.out.find(line), std::string::npos) << line << '\n' << file.out;
}

// The indicator runs on through the truck driving on at any number of places (the weight used to
// outgrow the display and abort it), and every frame it wrote reads back through the control.
class IndicatorPlaces : public ::testing::TestWithParam<int> {};

TEST_P(IndicatorPlaces, RunsOnAndEveryFrameDecodes) {
    const std::string places = std::to_string(GetParam());
    ToolRun run = runShell("f=/tmp/tolvak-places-$$; : > $f; \"$T\" indicator --places " + places +
                           " --seconds 4.5 --device $f; echo status $?; wc -c < $f; "
                           "\"$T\" replay $f; rm -f $f");
    std::istringstream lines(run.out);
    std::string status, line;
    size_t bytes = 0;
    std::getline(lines, status);
    lines >> bytes >> std::ws;
    EXPECT_EQ(status, "status 0") << run.err;
    std::vector<double> shown;
    while (std::getline(lines, line)) {
        if (line.rfind("display ", 0) != 0) continue;
        const std::string text = line.substr(8);
        const auto value = cli::weightValue(std::u16string(text.begin(), text.end()));
        ASSERT_TRUE(value) << line;
        shown.push_back(*value);
    }
    EXPECT_EQ(shown.size(), bytes / 9) << "every 9-byte frame is shown";
    ASSERT_FALSE(shown.empty());
    EXPECT_GT(shown.back(), shown.front()) << "the truck was driving on";
}

INSTANTIATE_TEST_SUITE_P(Table, IndicatorPlaces, ::testing::Values(2, 5));

TEST(Tool, DemoPrintsPlainLinesWhenNotOnATerminal) {
    ToolRun run = runShell("\"$T\" demo --seconds 1 --weight 250");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "250  raw \"=05200000\"\n");
}

TEST(Tool, ReplayReadsStandardInput) {
    ToolRun run =
        runShell("printf \"=05.21000=05.21000=05.21000=05.2\" | \"$T\" replay - --chunk-size 23");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "display 12.5\ndisplay 12.5\nraw \"=05.2\"\ndisplay 12.5\nraw \"=05.2\"\n");
}

TEST(Tool, ReplayShowsTheFramesBehindOneThatCannotBeDecoded) {
    ToolRun run = runShell("printf \"=00012.50=1E999999=00013.50=00014.50=00015.50=00016.50="
                           "00017.50=00018.50=\" | \"$T\" replay - --reverse 0 --chunk-size 9");
    EXPECT_EQ(run.status, 0) << run.err;
    std::string shown;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("display ", 0) == 0) shown += line.substr(8) + ' ';
    EXPECT_EQ(shown, "12.5 13.5 14.5 15.5 16.5 17.5 18.5 ");
}

// Settings under which every frame fails inside the receive handler: the error reaches the user,
// each distinct one at most once a second however many events fail.
class ReceiveErrors : public ::testing::TestWithParam<const char*> {};

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST_P(ReceiveErrors, ReplayShowsThemOnStderr) {
    // 2000 frames, each its own receive event.
    ToolRun run = runShell("i=0; while [ $i -lt 2000 ]; do printf \"=05.21000\"; i=$((i+1)); done |"
                           " \"$T\" replay - --chunk-size 9 " +
                           std::string(GetParam()));
    // Not one reading in the whole capture: said last, and the exit status says so.
    EXPECT_EQ(run.status, 3) << run.err;
    auto lines = linesOf(run.err);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.back(), "tolvak replay: no reading in the input");
    lines.pop_back();
    EXPECT_LT(lines.size(), 50u) << run.err;
    for (const std::string& line : lines)
        EXPECT_EQ(line, "tolvak replay: receive error 6: Overflow");
}

TEST_P(ReceiveErrors, ReadShowsThemOnStderrAndAsJson) {
    SendingIndicator indicator("=05.21000");
    for (const char* json : {"", " --json"}) {
        SCOPED_TRACE(json);
        ToolRun run = runShell("\"$T\" read --quiet --device " + indicator.path() +
                               " --timeout 1 " + GetParam() + json);
        EXPECT_EQ(run.status, 3) << run.err;
        const auto lines = linesOf(run.err);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.front(), "tolvak read: receive error 6: Overflow");
        // Frames arrive 50 times a second; the error is shown about once a second.
        EXPECT_LE(lines.size(), 5u) << run.err;
        const auto out = linesOf(run.out);
        if (*json) {
            ASSERT_FALSE(out.empty());
            EXPECT_LE(out.size(), 4u) << run.out;
            for (const std::string& line : out)
                EXPECT_EQ(line.rfind("{\"error\":{\"number\":6,\"description\":\"Overflow\"},"
                                     "\"time\":\"",
                                     0),
                          0u)
                    << line;
        } else {
            EXPECT_EQ(run.out, "");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ReceiveErrors,
                         ::testing::Values("--decimals 400",
                                           "--eload-bits 32767 --eload-prebits 32767"));

// Captures of real shapes through replay and detect: the readings, every dropped frame said with
// its bytes and counted, 7-bit captures, no reading at all, a guess that is only a guess.
struct CaptureRun {
    const char* script;
    int status;
    std::vector<const char*> out, err; // each found in the output
};

TEST(Tool, ReplayAndDetectTellWhatTheyRead) {
    const CaptureRun runs[] = {
        {"printf \"ST,GS,+0012.50kg\\r\\nST,GS,+00?2.50kg\\r\\nQT\\r\\nST,GS,+0001.00kg\\r\\n\" | "
         "\"$T\" replay - --format status",
         0,
         {"12.50\n1.00\n"},
         {"Malformed frame: dropped (8031), the first of them: \"ST,GS,+00?2.50kg\\r\"\n",
          "2 frames dropped: 2 of 8031 Malformed frame\n"}},
        // 7E1 bytes captured as 8 bits: "S S  1.5 g" with the parity in bit 7.
        {"printf \"\\123\\240\\123\\240\\240\\261\\256\\065\\240\\147\\215\\012\" | "
         "\"$T\" replay - --format balance --data-bits 7 --parity e --json",
         0,
         {"\"weight\":\"1.5\"", "\"unit\":\"g\"", "\"indicatorStable\":true"},
         {}},
        {"printf \"K  12 D\\r\\n\" | \"$T\" replay - --format regex --pattern "
         "\"(?<unit>[KL]) +(?<value>[0-9]+) (?<status>.)\\r\\n\" --map kg=K --map motion=D "
         "--decimals 1 --json",
         0,
         {"\"weight\":\"1.2\"", "\"unit\":\"kg\"", "\"indicatorStable\":false"},
         {}},
        {"printf \"x\\r\\n\" | \"$T\" replay - --format line", 3, {}, {"no reading in the input"}},
        {"i=0; while [ $i -lt 50 ]; do printf =0003.000; i=$((i+1)); done | \"$T\" detect --file - "
         "--json",
         3,
         {"\"label\":\"a guess\"", "\"doubts\":[\"the bytes read as well"},
         {}},
    };
    for (const CaptureRun& r : runs) {
        ToolRun run = runShell(r.script);
        SCOPED_TRACE(std::string(r.script) + "\nout: " + run.out + "\nerr: " + run.err);
        EXPECT_EQ(run.status, r.status);
        for (const char* o : r.out)
            EXPECT_NE(run.out.find(o), std::string::npos) << o;
        for (const char* e : r.err)
            EXPECT_NE(run.err.find(e), std::string::npos) << e;
    }
}

TEST(Tool, ReplayOfAMissingFileFails) {
    ToolRun run = runShell("\"$T\" replay /nonexistent/capture.bin");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("/nonexistent/capture.bin: No such file or directory"),
              std::string::npos);
}

TEST(Tool, HostInfoJsonHasTheThreeAnswers) {
    ToolRun run = runShell("\"$T\" host-info --json");
    EXPECT_EQ(run.status, 0);
    char name[256] = {};
    ::gethostname(name, sizeof name);
    EXPECT_EQ(run.out.rfind(std::string("{\"hostName\":\"") + name + "\",\"ipv4Address\":\"", 0),
              0u)
        << run.out;
    EXPECT_NE(run.out.find("\"macAddress\":\""), std::string::npos);
}

} // namespace
} // namespace tolvak::testing
