// Late-bound calls on one control, by DISPID and by name, with arguments the fuzzer chooses, among
// the events its platform delivers and failures of its seams (the unit tests' fakes).
//
// Input: steps, front to back, each starting with an op byte:
//   op % 8 = 0, 1  call by DISPID: a byte; below 128 it picks a method of the table, otherwise
//                  four bytes give any DISPID; then the arguments
//            2, 3  call by name: a byte; below 128 it picks a method of the table, whose name is
//                  written with the case of its letters flipped by a 32-bit mask (four bytes),
//                  otherwise a length byte and that many characters; then the arguments
//            4     a receive event: a length byte and that many characters
//            5     a serial event of another kind: 16 bits
//            6     Timer1 ticks (if it runs), a port button is clicked or the container saves
//            7     a seam operation fails from its next use on, or works again; or the sockets
//                  answer with another result
//   arguments: a count (0-3), then per argument a kind (0 empty, 1 short: 16 bits, 2 text: a
//   length byte and that many one-byte characters, 3 the same with two-byte characters)
//
// Invariants: nothing but an AutomationError leaves a call or an event, and no crash or sanitizer
// report; an unknown DISPID or name fails with 438 and a wrong argument count with 450; a name is
// found whatever the case of its letters; a call that succeeds returns what the method table says
// (text, or nothing); rawData holds at most 4096 characters; the display holds "0" or a number
// text that reads back as itself.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "acquisition/frame_parser.h"
#include "control/method_table.h"
#include "fakes.h"
#include "fuzz_support.h"

namespace tolvak::fuzz {
namespace {

std::u16string flipCase(std::u16string_view name, uint32_t mask) {
    std::u16string out(name);
    for (size_t i = 0; i < out.size(); ++i) {
        if (!(mask >> (i % 32) & 1)) continue;
        char16_t& c = out[i];
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - 32);
        else if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c + 32);
    }
    return out;
}

std::vector<Variant> readArguments(InputReader& in) {
    std::vector<Variant> args(in.byte() % 4);
    for (Variant& arg : args) {
        switch (in.byte() % 4) {
        case 0:
            break;
        case 1:
            arg = in.int16();
            break;
        case 2:
            arg = in.text(in.byte());
            break;
        default:
            arg = in.wideText(in.byte());
            break;
        }
    }
    return args;
}

// One late-bound call, its outcome checked against the method it should reach (none: unknown).
void checkCall(const MethodInfo* method, const std::vector<Variant>& args, const std::string& what,
               const std::function<Variant()>& call) {
    Variant result;
    auto error = trapErrors([&] { result = call(); });
    if (!method) {
        if (!error || error->number() != errors::kMemberNotFound)
            fail(what + " reaches no method but does not fail with 438");
        return;
    }
    size_t expected = method->argType == ArgType::None ? 0 : 1;
    if (args.size() != expected) {
        if (!error || error->number() != errors::kWrongArgumentCount)
            fail(what + " with " + std::to_string(args.size()) +
                 " arguments does not fail with 450");
        return;
    }
    if (error) return; // the method's own refusal
    bool returnsText = method->result == ResultType::Text;
    if (returnsText != std::holds_alternative<std::u16string>(result) ||
        (!returnsText && !std::holds_alternative<std::monostate>(result)))
        fail(what + " returns a value of the wrong kind");
}

void callByDispid(testing::Harness& h, InputReader& in) {
    uint8_t pick = in.byte();
    const MethodInfo* method = nullptr;
    int32_t dispid;
    if (pick < 128) {
        method = &kMethodTable[pick % kMethodCount];
        dispid = method->dispid;
    } else {
        dispid = in.int32();
        method = findMethod(dispid);
    }
    std::vector<Variant> args = readArguments(in);
    checkCall(method, args, "DISPID " + std::to_string(dispid),
              [&] { return h.control->invoke(dispid, args); });
}

void callByName(testing::Harness& h, InputReader& in) {
    uint8_t pick = in.byte();
    const MethodInfo* method = nullptr;
    std::u16string name;
    if (pick < 128) {
        method = &kMethodTable[pick % kMethodCount];
        name = flipCase(method->name, static_cast<uint32_t>(in.int32()));
        if (findMethod(name) != method) fail("the name " + quoted(name) + " is not found");
    } else {
        name = in.text(in.byte());
        method = findMethod(name);
    }
    std::vector<Variant> args = readArguments(in);
    checkCall(method, args, "name " + quoted(name), [&] { return h.call(name, args); });
}

void platformEvent(testing::Harness& h, InputReader& in) {
    switch (in.byte() % 4) {
    case 0:
        if (h.timer->enabled && h.timer->interval > 0) h.timer->tick();
        break;
    case 1:
        h.control->clickStartPortBtn();
        break;
    case 2:
        h.control->clickStopPortBtn();
        break;
    default: {
        testing::RecordingBag bag;
        h.control->writeProperties(bag, FontDesc{u"MS Sans Serif", 8.25});
        break;
    }
    }
}

// Seam operations the fakes can refuse, by the names they check.
const std::array<const char*, 10> kSerialOps = {
    "CommPort",   "Settings", "InBufferSize", "InBufferCount", "InputLen",
    "RThreshold", "PortOpen", "PortOpen.get", "Input",         "CommEvent"};
const std::array<const char*, 8> kSurfaceOps = {
    "text:lblNumber", "refresh:lblNumber", "text:OutPutChar",  "refresh:OutPutChar",
    "text:OutMsg",    "refresh:OutMsg",    "layout:lblNumber", "refresh:surface"};

void seamScript(testing::Harness& h, InputReader& in) {
    uint8_t pick = in.byte();
    bool works = pick & 0x80;
    size_t which = pick & 0x7F;
    int32_t number = in.int32();
    int after = in.byte() % 4;
    auto script = [&](testing::FailureScript& fake, const char* op) {
        if (works)
            fake.clear(op);
        else
            fake.failNext(op, number, u"injected", after);
    };
    if (which < kSerialOps.size()) return script(*h.serial, kSerialOps[which]);
    which -= kSerialOps.size();
    if (which < kSurfaceOps.size()) return script(h.surface, kSurfaceOps[which]);
    which -= kSurfaceOps.size();
    if (which < 2) return script(*h.timer, which == 0 ? "Enabled" : "Interval");
    which -= 2;
    testing::FakeSockets& sockets = *h.sockets;
    switch (which % 6) {
    case 0:
        sockets.startupResult = works ? 0 : number;
        break;
    case 1:
        sockets.granted = {static_cast<uint16_t>(number), static_cast<uint16_t>(number >> 16)};
        break;
    case 2:
        sockets.hostNameResult = works ? 0 : number;
        break;
    case 3:
        if (works)
            sockets.address = std::vector<uint8_t>{192, 168, 0, 5};
        else
            sockets.address = std::nullopt;
        break;
    case 4:
        sockets.arpResult = works ? 0 : static_cast<uint32_t>(number);
        break;
    default:
        sockets.arpLength = static_cast<uint32_t>(number) % 16;
        break;
    }
}

void step(testing::Harness& h, InputReader& in) {
    switch (in.byte() % 8) {
    case 0:
    case 1:
        callByDispid(h, in);
        break;
    case 2:
    case 3:
        callByName(h, in);
        break;
    case 4:
        h.serial->receive(in.text(in.byte()));
        break;
    case 5:
        h.serial->raise(in.int16());
        break;
    case 6:
        platformEvent(h, in);
        break;
    default:
        seamScript(h, in);
        break;
    }
}

void run(InputReader& in) {
    testing::Harness h;
    while (!in.empty()) {
        // Events have no caller to hand an error to, but what they throw must still be an
        // AutomationError: anything else escapes here and ends the run.
        trapErrors([&] { step(h, in); });
        size_t held = h.control->state().rawData.size();
        if (held > kRawDataLimit) fail("rawData holds " + std::to_string(held) + " characters");
        std::u16string shown = h.control->getTolvakValue();
        if (shown != u"0" && !readsBackAsItself(shown) && !readsBackAsItself(shown, true))
            fail("the display shows " + quoted(shown));
    }
}

} // namespace
} // namespace tolvak::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tolvak::fuzz::InputReader in(data, size);
    tolvak::fuzz::run(in);
    return 0;
}
