#pragma once

#include <cstdint>
#include <exception>
#include <new>
#include <optional>
#include <string>

namespace tolvak {

// The one error type of the core: what an automation client sees as Err.Number and
// Err.Description. Seams throw it, the core throws it, the COM layer turns it into an HRESULT.
class AutomationError : public std::exception {
  public:
    AutomationError(int32_t number, std::u16string description)
        : m_number(number), m_description(std::move(description)) {}

    int32_t number() const noexcept { return m_number; }
    const std::u16string& description() const noexcept { return m_description; }
    const char* what() const noexcept override { return "automation error"; }

  private:
    int32_t m_number;
    std::u16string m_description;
};

// Error numbers automation hosts know, with the descriptions they expect.
namespace errors {
constexpr int32_t kOverflow = 6;
constexpr int32_t kOutOfMemory = 7;
constexpr int32_t kDivisionByZero = 11;
constexpr int32_t kTypeMismatch = 13;
constexpr int32_t kInvalidPropertyValue = 380;
constexpr int32_t kMemberNotFound = 438;
constexpr int32_t kWrongArgumentCount = 450;

// Serial component errors.
constexpr int32_t kInvalidPortNumber = 8002;
constexpr int32_t kPortAlreadyOpen = 8005;
constexpr int32_t kPortNotAvailable = 8010;
constexpr int32_t kPortNotOpen = 8012;

AutomationError overflow();
AutomationError outOfMemory();
AutomationError divisionByZero();
AutomationError typeMismatch();
AutomationError invalidPropertyValue();
AutomationError memberNotFound();
AutomationError wrongArgumentCount();
AutomationError portAlreadyOpen();
} // namespace errors

// An error trap: runs the steps it covers and hands back the first error they raise (the later
// steps are not run), or nothing when all of them succeed.
template <typename Steps> std::optional<AutomationError> trapErrors(Steps&& steps) {
    try {
        steps();
        return std::nullopt;
    } catch (const AutomationError& e) {
        return e;
    } catch (const std::bad_alloc&) {
        return errors::outOfMemory();
    }
}

} // namespace tolvak
