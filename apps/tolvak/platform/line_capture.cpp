#include "tolvak/platform/line_capture.h"

namespace tolvak::cli {

LineCapture unmarkErrors(std::string_view marked) {
    LineCapture out;
    for (size_t i = 0; i < marked.size(); ++i) {
        if (marked[i] != '\377' || i + 1 >= marked.size()) {
            out.bytes += marked[i];
        } else if (marked[i + 1] == '\377') {
            out.bytes += marked[++i];
        } else if (marked[i + 1] == '\0' && i + 2 < marked.size()) {
            out.errors.push_back(out.bytes.size());
            out.bytes += marked[i + 2];
            i += 2;
        } else {
            out.bytes += marked[i];
        }
    }
    return out;
}

} // namespace tolvak::cli
