#pragma once

namespace tolvak::cli {

// The page served at "/": everything inline, nothing fetched from elsewhere.
extern const char* const kWebPage;

} // namespace tolvak::cli
