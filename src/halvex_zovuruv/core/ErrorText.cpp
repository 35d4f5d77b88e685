#include "halvex_zovuruv/core/ErrorText.h"

#include "platform/system/SystemError.h"

namespace halvex {

std::string errorDebugText(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const platform::system::SystemError& e) {
        return e.debugDescription();
    } catch (const DescribedError& e) {
        return e.debugDescription();
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown error";
    }
}

std::string errorLocalizedText(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown error";
    }
}

} // namespace halvex
